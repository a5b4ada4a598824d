#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "pipeline/staged/stage_items.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

// What a shard writer took out of its slot; no value when the run was stopped first.
template <typename Value>
struct SlotTake {
  std::optional<Value> value;
  double waited_seconds = 0.0;
};

// One shard's hand-over point between a producing stage and the shard's writer: values are
// deposited in any order under their batch key and taken out by the writer in key order.
template <typename Value>
class ShardSlot {
 public:
  ShardSlot() = default;
  ShardSlot(const ShardSlot&) = delete;
  ShardSlot& operator=(const ShardSlot&) = delete;

  void Put(BatchKey key, Value value) {
    {
      const std::lock_guard lock(mutex_);
      entries_.insert_or_assign(key, std::move(value));
    }
    deposited_.notify_all();
  }

  // Waits until the entry `key` is present and removes it, or until `stop` is set.
  SlotTake<Value> Take(BatchKey key, const std::atomic<bool>& stop) {
    SlotTake<Value> taken;
    const util::Stopwatch wait;
    std::unique_lock lock(mutex_);
    deposited_.wait(lock, [&] {
      return stop.load(std::memory_order_acquire) || entries_.find(key) != entries_.end();
    });
    if (!stop.load(std::memory_order_acquire)) {
      const auto entry = entries_.find(key);
      taken.value.emplace(std::move(entry->second));
      entries_.erase(entry);
    }
    lock.unlock();
    taken.waited_seconds = wait.ElapsedSeconds();
    return taken;
  }

  std::uint64_t Size() const {
    const std::lock_guard lock(mutex_);
    return entries_.size();
  }

  // Wakes the waiting writer so that it re-checks the stop flag.
  void WakeAll() {
    { const std::lock_guard lock(mutex_); }
    deposited_.notify_all();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable deposited_;
  std::map<BatchKey, Value> entries_;
};

// One slot per shard.
template <typename Value>
using ShardSlots = std::vector<ShardSlot<Value>>;

}  // namespace boardmill::pipeline
