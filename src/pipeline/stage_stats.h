#pragma once

#include <atomic>
#include <cstdint>

namespace boardmill::pipeline {

// A plain copy of one stage's counters at one moment.
struct StageStatsSnapshot {
  std::uint64_t items_in = 0;
  std::uint64_t items_out = 0;
  std::uint64_t bytes_in = 0;
  std::uint64_t bytes_out = 0;
  std::uint64_t batches = 0;
  std::uint64_t queue_samples = 0;
  std::uint64_t queue_depth_sum = 0;
  std::uint64_t queue_depth_max = 0;
  double busy_seconds = 0.0;
  double idle_seconds = 0.0;
  double blocked_empty_seconds = 0.0;
  double blocked_full_seconds = 0.0;
  double blocked_order_seconds = 0.0;
};

// The counters of one processing stage, shared by every thread of that stage and read by the
// tuners and report writers while the stage runs. Lock-free: each field is its own atomic, so a
// snapshot is not an atomic cut across fields, which is good enough for rates and ratios.
class StageStats {
 public:
  StageStats() = default;
  StageStats(const StageStats&) = delete;
  StageStats& operator=(const StageStats&) = delete;

  void AddItemsIn(std::uint64_t count);
  void AddItemsOut(std::uint64_t count);
  void AddBytesIn(std::uint64_t count);
  void AddBytesOut(std::uint64_t count);
  void AddBatches(std::uint64_t count);
  void AddBusySeconds(double seconds);
  void AddIdleSeconds(double seconds);
  void AddBlockedEmptySeconds(double seconds);
  void AddBlockedFullSeconds(double seconds);
  void AddBlockedOrderSeconds(double seconds);
  // One sample of the stage's input queue: counts the sample, adds the depth to the depth sum
  // and raises the running maximum.
  void RecordQueueDepth(std::uint64_t depth);

  StageStatsSnapshot Snapshot() const;

 private:
  std::atomic<std::uint64_t> items_in_{0};
  std::atomic<std::uint64_t> items_out_{0};
  std::atomic<std::uint64_t> bytes_in_{0};
  std::atomic<std::uint64_t> bytes_out_{0};
  std::atomic<std::uint64_t> batches_{0};
  std::atomic<std::uint64_t> queue_samples_{0};
  std::atomic<std::uint64_t> queue_depth_sum_{0};
  std::atomic<std::uint64_t> queue_depth_max_{0};
  std::atomic<double> busy_seconds_{0.0};
  std::atomic<double> idle_seconds_{0.0};
  std::atomic<double> blocked_empty_seconds_{0.0};
  std::atomic<double> blocked_full_seconds_{0.0};
  std::atomic<double> blocked_order_seconds_{0.0};
};

}  // namespace boardmill::pipeline
