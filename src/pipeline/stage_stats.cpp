#include "pipeline/stage_stats.h"

#include "util/atomic_double.h"

namespace boardmill::pipeline {

namespace {

// Counters publish no other data, so relaxed ordering is all they need.
constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

void RaiseTo(std::atomic<std::uint64_t>& maximum, std::uint64_t value) {
  std::uint64_t current = maximum.load(kRelaxed);
  while (value > current && !maximum.compare_exchange_weak(current, value, kRelaxed)) {
  }
}

}  // namespace

void StageStats::AddItemsIn(std::uint64_t count) { items_in_.fetch_add(count, kRelaxed); }
void StageStats::AddItemsOut(std::uint64_t count) { items_out_.fetch_add(count, kRelaxed); }
void StageStats::AddBytesIn(std::uint64_t count) { bytes_in_.fetch_add(count, kRelaxed); }
void StageStats::AddBytesOut(std::uint64_t count) { bytes_out_.fetch_add(count, kRelaxed); }
void StageStats::AddBatches(std::uint64_t count) { batches_.fetch_add(count, kRelaxed); }
void StageStats::AddBusySeconds(double seconds) { util::AtomicAdd(busy_seconds_, seconds); }
void StageStats::AddIdleSeconds(double seconds) { util::AtomicAdd(idle_seconds_, seconds); }
void StageStats::AddBlockedEmptySeconds(double seconds) {
  util::AtomicAdd(blocked_empty_seconds_, seconds);
}
void StageStats::AddBlockedFullSeconds(double seconds) {
  util::AtomicAdd(blocked_full_seconds_, seconds);
}
void StageStats::AddBlockedOrderSeconds(double seconds) {
  util::AtomicAdd(blocked_order_seconds_, seconds);
}

void StageStats::RecordQueueDepth(std::uint64_t depth) {
  queue_samples_.fetch_add(1, kRelaxed);
  queue_depth_sum_.fetch_add(depth, kRelaxed);
  RaiseTo(queue_depth_max_, depth);
}

StageStatsSnapshot StageStats::Snapshot() const {
  StageStatsSnapshot snapshot;
  snapshot.items_in = items_in_.load(kRelaxed);
  snapshot.items_out = items_out_.load(kRelaxed);
  snapshot.bytes_in = bytes_in_.load(kRelaxed);
  snapshot.bytes_out = bytes_out_.load(kRelaxed);
  snapshot.batches = batches_.load(kRelaxed);
  snapshot.queue_samples = queue_samples_.load(kRelaxed);
  snapshot.queue_depth_sum = queue_depth_sum_.load(kRelaxed);
  snapshot.queue_depth_max = queue_depth_max_.load(kRelaxed);
  snapshot.busy_seconds = busy_seconds_.load(kRelaxed);
  snapshot.idle_seconds = idle_seconds_.load(kRelaxed);
  snapshot.blocked_empty_seconds = blocked_empty_seconds_.load(kRelaxed);
  snapshot.blocked_full_seconds = blocked_full_seconds_.load(kRelaxed);
  snapshot.blocked_order_seconds = blocked_order_seconds_.load(kRelaxed);
  return snapshot;
}

}  // namespace boardmill::pipeline
