#include "pipeline/staged/worker_stats.h"

#include "util/atomic_double.h"

namespace boardmill::pipeline {

namespace {

// Statistics publish no other data, so relaxed ordering is all they need.
constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

void RaiseTo(std::atomic<std::uint64_t>& maximum, std::uint64_t value) {
  std::uint64_t current = maximum.load(kRelaxed);
  while (value > current && !maximum.compare_exchange_weak(current, value, kRelaxed)) {
  }
}

}  // namespace

std::string_view WorkerStateName(std::uint32_t state) {
  switch (static_cast<WorkerState>(state)) {
    case WorkerState::kStarting:
      return "starting";
    case WorkerState::kIdle:
      return "idle";
    case WorkerState::kBusy:
      return "busy";
    case WorkerState::kBlockedEmpty:
      return "blocked-empty";
    case WorkerState::kBlockedFull:
      return "blocked-full";
    case WorkerState::kBlockedOrderedWrite:
      return "blocked-ordered-write";
    case WorkerState::kThrottled:
      return "throttled";
    case WorkerState::kFinished:
      return "finished";
  }
  return "unknown";
}

void WorkerStats::AddBatches(std::uint64_t count) { batches_.fetch_add(count, kRelaxed); }
void WorkerStats::AddItemsIn(std::uint64_t count) { items_in_.fetch_add(count, kRelaxed); }
void WorkerStats::AddItemsOut(std::uint64_t count) { items_out_.fetch_add(count, kRelaxed); }
void WorkerStats::AddBytesIn(std::uint64_t count) { bytes_in_.fetch_add(count, kRelaxed); }
void WorkerStats::AddBytesOut(std::uint64_t count) { bytes_out_.fetch_add(count, kRelaxed); }

void WorkerStats::RecordBatchSize(std::uint64_t items, std::uint64_t bytes) {
  RaiseTo(max_batch_items_, items);
  RaiseTo(max_batch_bytes_, bytes);
}

void WorkerStats::AddBusySeconds(double seconds) { util::AtomicAdd(busy_seconds_, seconds); }
void WorkerStats::AddIdleSeconds(double seconds) { util::AtomicAdd(idle_seconds_, seconds); }
void WorkerStats::AddBlockedEmptySeconds(double seconds) {
  util::AtomicAdd(blocked_empty_seconds_, seconds);
}
void WorkerStats::AddBlockedFullSeconds(double seconds) {
  util::AtomicAdd(blocked_full_seconds_, seconds);
}
void WorkerStats::AddBlockedOrderSeconds(double seconds) {
  util::AtomicAdd(blocked_order_seconds_, seconds);
}

WorkerStatsSnapshot WorkerStats::Snapshot() const {
  WorkerStatsSnapshot snapshot;
  snapshot.batches = batches_.load(kRelaxed);
  snapshot.items_in = items_in_.load(kRelaxed);
  snapshot.items_out = items_out_.load(kRelaxed);
  snapshot.bytes_in = bytes_in_.load(kRelaxed);
  snapshot.bytes_out = bytes_out_.load(kRelaxed);
  snapshot.max_batch_items = max_batch_items_.load(kRelaxed);
  snapshot.max_batch_bytes = max_batch_bytes_.load(kRelaxed);
  snapshot.busy_seconds = busy_seconds_.load(kRelaxed);
  snapshot.idle_seconds = idle_seconds_.load(kRelaxed);
  snapshot.blocked_empty_seconds = blocked_empty_seconds_.load(kRelaxed);
  snapshot.blocked_full_seconds = blocked_full_seconds_.load(kRelaxed);
  snapshot.blocked_order_seconds = blocked_order_seconds_.load(kRelaxed);
  snapshot.state = state_.load(kRelaxed);
  return snapshot;
}

}  // namespace boardmill::pipeline
