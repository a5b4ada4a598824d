#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
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
// deposited in any order under their batch key and taken out by the writer in key order. Keys
// arrive nearly in order and leave from the front, so the entries are a deque kept sorted rather
// than a map: no allocation per entry, which the producing thread would pay and the writer's
// thread free.
template <typename Value>
class ShardSlot {
 public:
  ShardSlot() = default;
  ShardSlot(const ShardSlot&) = delete;
  ShardSlot& operator=(const ShardSlot&) = delete;

  void Put(BatchKey key, Value value) {
    {
      const std::lock_guard lock(mutex_);
      const auto place = Find(key);
      if (place != entries_.end() && place->first == key) {
        place->second = std::move(value);
      } else {
        entries_.emplace(place, key, std::move(value));
      }
    }
    deposited_.notify_all();
  }

  // Waits until the entry `key` is present and removes it, or until `stop` is set.
  SlotTake<Value> Take(BatchKey key, const std::atomic<bool>& stop) {
    SlotTake<Value> taken;
    const util::Stopwatch wait;
    std::unique_lock lock(mutex_);
    auto entry = entries_.end();
    deposited_.wait(lock, [&] {
      entry = Find(key);
      return stop.load(std::memory_order_acquire) ||
             (entry != entries_.end() && entry->first == key);
    });
    if (!stop.load(std::memory_order_acquire)) {
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
  using Entries = std::deque<std::pair<BatchKey, Value>>;

  // The first entry whose key is not below `key`.
  typename Entries::iterator Find(BatchKey key) {
    return std::lower_bound(entries_.begin(), entries_.end(), key,
                            [](const std::pair<BatchKey, Value>& entry, BatchKey wanted) {
                              return entry.first < wanted;
                            });
  }

  mutable std::mutex mutex_;
  std::condition_variable deposited_;
  Entries entries_;
};

// One slot per shard.
template <typename Value>
using ShardSlots = std::vector<ShardSlot<Value>>;

}  // namespace boardmill::pipeline
