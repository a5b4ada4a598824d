#pragma once

#include <atomic>
#include <cstdint>

#include "util/atomic_statistics.h"

namespace boardmill::pipeline {

// A plain copy of the counters that a stage and each of its threads keep alike.
struct ActivitySnapshot {
  std::uint64_t items_in = 0;
  std::uint64_t items_out = 0;
  std::uint64_t bytes_in = 0;
  std::uint64_t bytes_out = 0;
  std::uint64_t batches = 0;
  double busy_seconds = 0.0;
  double idle_seconds = 0.0;
  double blocked_empty_seconds = 0.0;
  double blocked_full_seconds = 0.0;
  double blocked_order_seconds = 0.0;
};

// Work done and time spent, counted by the threads that do the work and read by tuners and report
// writers while they run. Lock-free: each field is its own atomic, so a snapshot is not an atomic
// cut across fields, which is good enough for rates and ratios.
class ActivityCounters {
 public:
  ActivityCounters() = default;
  ActivityCounters(const ActivityCounters&) = delete;
  ActivityCounters& operator=(const ActivityCounters&) = delete;

  void AddItemsIn(std::uint64_t count) { items_in_.fetch_add(count, kRelaxed); }
  void AddItemsOut(std::uint64_t count) { items_out_.fetch_add(count, kRelaxed); }
  void AddBytesIn(std::uint64_t count) { bytes_in_.fetch_add(count, kRelaxed); }
  void AddBytesOut(std::uint64_t count) { bytes_out_.fetch_add(count, kRelaxed); }
  void AddBatches(std::uint64_t count) { batches_.fetch_add(count, kRelaxed); }
  void AddBusySeconds(double seconds) { util::AtomicAdd(busy_seconds_, seconds); }
  void AddIdleSeconds(double seconds) { util::AtomicAdd(idle_seconds_, seconds); }
  void AddBlockedEmptySeconds(double seconds) { util::AtomicAdd(blocked_empty_seconds_, seconds); }
  void AddBlockedFullSeconds(double seconds) { util::AtomicAdd(blocked_full_seconds_, seconds); }
  void AddBlockedOrderSeconds(double seconds) { util::AtomicAdd(blocked_order_seconds_, seconds); }

 protected:
  static constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

  void CopyInto(ActivitySnapshot& snapshot) const {
    snapshot.items_in = items_in_.load(kRelaxed);
    snapshot.items_out = items_out_.load(kRelaxed);
    snapshot.bytes_in = bytes_in_.load(kRelaxed);
    snapshot.bytes_out = bytes_out_.load(kRelaxed);
    snapshot.batches = batches_.load(kRelaxed);
    snapshot.busy_seconds = busy_seconds_.load(kRelaxed);
    snapshot.idle_seconds = idle_seconds_.load(kRelaxed);
    snapshot.blocked_empty_seconds = blocked_empty_seconds_.load(kRelaxed);
    snapshot.blocked_full_seconds = blocked_full_seconds_.load(kRelaxed);
    snapshot.blocked_order_seconds = blocked_order_seconds_.load(kRelaxed);
  }

 private:
  std::atomic<std::uint64_t> items_in_{0};
  std::atomic<std::uint64_t> items_out_{0};
  std::atomic<std::uint64_t> bytes_in_{0};
  std::atomic<std::uint64_t> bytes_out_{0};
  std::atomic<std::uint64_t> batches_{0};
  std::atomic<double> busy_seconds_{0.0};
  std::atomic<double> idle_seconds_{0.0};
  std::atomic<double> blocked_empty_seconds_{0.0};
  std::atomic<double> blocked_full_seconds_{0.0};
  std::atomic<double> blocked_order_seconds_{0.0};
};

// A plain copy of one stage's counters at one moment.
struct StageStatsSnapshot : ActivitySnapshot {
  std::uint64_t queue_samples = 0;
  std::uint64_t queue_depth_sum = 0;
  std::uint64_t queue_depth_max = 0;
};

// The counters of one processing stage, shared by every thread of that stage and read by the
// tuners and report writers while the stage runs, plus samples of the stage's input queue.
class StageStats : public ActivityCounters {
 public:
  // One sample of the stage's input queue: counts the sample, adds the depth to the depth sum
  // and raises the running maximum.
  void RecordQueueDepth(std::uint64_t depth) {
    queue_samples_.fetch_add(1, kRelaxed);
    queue_depth_sum_.fetch_add(depth, kRelaxed);
    util::AtomicRaise(queue_depth_max_, depth);
  }

  StageStatsSnapshot Snapshot() const {
    StageStatsSnapshot snapshot;
    CopyInto(snapshot);
    snapshot.queue_samples = queue_samples_.load(kRelaxed);
    snapshot.queue_depth_sum = queue_depth_sum_.load(kRelaxed);
    snapshot.queue_depth_max = queue_depth_max_.load(kRelaxed);
    return snapshot;
  }

 private:
  std::atomic<std::uint64_t> queue_samples_{0};
  std::atomic<std::uint64_t> queue_depth_sum_{0};
  std::atomic<std::uint64_t> queue_depth_max_{0};
};

}  // namespace boardmill::pipeline
