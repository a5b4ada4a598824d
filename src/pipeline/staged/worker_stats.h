#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

namespace boardmill::pipeline {

// Where one stage thread is; the final state of each thread appears in worker-stats.tsv.
enum class WorkerState : std::uint32_t {
  kStarting = 0,
  kIdle = 1,
  kBusy = 2,
  kBlockedEmpty = 3,
  kBlockedFull = 4,
  kBlockedOrderedWrite = 5,
  kThrottled = 6,
  kFinished = 7,
};

// "starting", "idle", "busy", "blocked-empty", "blocked-full", "blocked-ordered-write",
// "throttled", "finished"; "unknown" for any other value.
std::string_view WorkerStateName(std::uint32_t state);

// A plain copy of one thread's counters.
struct WorkerStatsSnapshot {
  std::uint64_t batches = 0;
  std::uint64_t items_in = 0;
  std::uint64_t items_out = 0;
  std::uint64_t bytes_in = 0;
  std::uint64_t bytes_out = 0;
  std::uint64_t max_batch_items = 0;
  std::uint64_t max_batch_bytes = 0;
  double busy_seconds = 0.0;
  double idle_seconds = 0.0;
  double blocked_empty_seconds = 0.0;
  double blocked_full_seconds = 0.0;
  double blocked_order_seconds = 0.0;
  std::uint32_t state = 0;
};

// The counters of one stage thread. Written by that thread only, but read by the controller
// and the report writers while it runs, hence atomics.
class WorkerStats {
 public:
  WorkerStats() = default;
  WorkerStats(const WorkerStats&) = delete;
  WorkerStats& operator=(const WorkerStats&) = delete;

  void SetState(WorkerState state) {
    state_.store(static_cast<std::uint32_t>(state), std::memory_order_relaxed);
  }
  WorkerState State() const {
    return static_cast<WorkerState>(state_.load(std::memory_order_relaxed));
  }

  void AddBatches(std::uint64_t count);
  void AddItemsIn(std::uint64_t count);
  void AddItemsOut(std::uint64_t count);
  void AddBytesIn(std::uint64_t count);
  void AddBytesOut(std::uint64_t count);
  // Raises max_batch_items and max_batch_bytes to the given values where they are larger.
  void RecordBatchSize(std::uint64_t items, std::uint64_t bytes);
  void AddBusySeconds(double seconds);
  void AddIdleSeconds(double seconds);
  void AddBlockedEmptySeconds(double seconds);
  void AddBlockedFullSeconds(double seconds);
  void AddBlockedOrderSeconds(double seconds);

  WorkerStatsSnapshot Snapshot() const;

 private:
  std::atomic<std::uint64_t> batches_{0};
  std::atomic<std::uint64_t> items_in_{0};
  std::atomic<std::uint64_t> items_out_{0};
  std::atomic<std::uint64_t> bytes_in_{0};
  std::atomic<std::uint64_t> bytes_out_{0};
  std::atomic<std::uint64_t> max_batch_items_{0};
  std::atomic<std::uint64_t> max_batch_bytes_{0};
  std::atomic<double> busy_seconds_{0.0};
  std::atomic<double> idle_seconds_{0.0};
  std::atomic<double> blocked_empty_seconds_{0.0};
  std::atomic<double> blocked_full_seconds_{0.0};
  std::atomic<double> blocked_order_seconds_{0.0};
  std::atomic<std::uint32_t> state_{static_cast<std::uint32_t>(WorkerState::kStarting)};
};

}  // namespace boardmill::pipeline
