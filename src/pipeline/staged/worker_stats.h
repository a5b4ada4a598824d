#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "pipeline/stage_stats.h"

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
struct WorkerStatsSnapshot : ActivitySnapshot {
  std::uint64_t max_batch_items = 0;
  std::uint64_t max_batch_bytes = 0;
  std::uint32_t state = 0;
};

// The counters of one stage thread. Written by that thread only, but read by the controller
// and the report writers while it runs, hence atomics.
class WorkerStats : public ActivityCounters {
 public:
  void SetState(WorkerState state) { state_.store(static_cast<std::uint32_t>(state), kRelaxed); }
  WorkerState State() const { return static_cast<WorkerState>(state_.load(kRelaxed)); }

  // Raises max_batch_items and max_batch_bytes to the given values where they are larger.
  void RecordBatchSize(std::uint64_t items, std::uint64_t bytes) {
    util::AtomicRaise(max_batch_items_, items);
    util::AtomicRaise(max_batch_bytes_, bytes);
  }

  WorkerStatsSnapshot Snapshot() const {
    WorkerStatsSnapshot snapshot;
    CopyInto(snapshot);
    snapshot.max_batch_items = max_batch_items_.load(kRelaxed);
    snapshot.max_batch_bytes = max_batch_bytes_.load(kRelaxed);
    snapshot.state = state_.load(kRelaxed);
    return snapshot;
  }

 private:
  std::atomic<std::uint64_t> max_batch_items_{0};
  std::atomic<std::uint64_t> max_batch_bytes_{0};
  std::atomic<std::uint32_t> state_{static_cast<std::uint32_t>(WorkerState::kStarting)};
};

}  // namespace boardmill::pipeline
