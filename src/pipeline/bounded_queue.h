#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>

#include "util/stopwatch.h"

namespace boardmill::pipeline {

// What a Push went through; the staged pipeline adds the waits to its blocked-full time.
struct QueuePushReport {
  double waited_seconds = 0.0;  // 0 unless the queue was full on entry
  std::uint64_t size_after_push = 0;
  bool had_to_wait = false;  // the queue was open and full on entry
};

struct QueuePushResult {
  bool pushed = false;  // false: the queue was closed and the item was dropped
  QueuePushReport report;
};

// What a Pop went through; the staged pipeline adds the waits to its blocked-empty time.
struct QueuePopReport {
  double waited_seconds = 0.0;  // 0 unless the queue was empty on entry
  bool had_to_wait = false;     // the queue was open and empty on entry
};

template <typename T>
struct QueuePopResult {
  std::optional<T> item;  // empty only once the queue is closed and drained
  QueuePopReport report;
};

// A blocking FIFO with a fixed capacity. Producers wait while it is full, consumers while it is
// empty; Close releases every waiter. Items already queued are still handed out after Close, so
// closing is how a producer says "no more" without losing work. The lock is held only while the
// queue changes or a caller waits, never while an item is being processed.
template <typename T>
class BoundedQueue {
 public:
  // A capacity of 0 could never accept an item and would block every producer for good, so it
  // is treated as 1.
  explicit BoundedQueue(std::uint64_t capacity) : capacity_(std::max<std::uint64_t>(capacity, 1)) {}

  BoundedQueue(const BoundedQueue&) = delete;
  BoundedQueue& operator=(const BoundedQueue&) = delete;

  QueuePushResult Push(T item) {
    QueuePushResult result;
    std::unique_lock lock(mutex_);
    if (!closed_ && items_.size() >= capacity_) {
      result.report.had_to_wait = true;
      const util::Stopwatch wait;
      not_full_.wait(lock, [this] { return closed_ || items_.size() < capacity_; });
      result.report.waited_seconds = wait.ElapsedSeconds();
    }
    if (closed_) {
      result.report.size_after_push = items_.size();
      return result;
    }
    items_.push_back(std::move(item));
    const std::uint64_t size = items_.size();
    high_water_mark_ = std::max(high_water_mark_, size);
    result.pushed = true;
    result.report.size_after_push = size;
    lock.unlock();
    not_empty_.notify_one();
    return result;
  }

  QueuePopResult<T> Pop() {
    QueuePopResult<T> result;
    std::unique_lock lock(mutex_);
    if (!closed_ && items_.empty()) {
      result.report.had_to_wait = true;
      const util::Stopwatch wait;
      not_empty_.wait(lock, [this] { return closed_ || !items_.empty(); });
      result.report.waited_seconds = wait.ElapsedSeconds();
    }
    if (items_.empty()) return result;  // closed and drained
    result.item.emplace(std::move(items_.front()));
    items_.pop_front();
    lock.unlock();
    not_full_.notify_one();
    return result;
  }

  void Close() {
    {
      const std::lock_guard lock(mutex_);
      closed_ = true;
    }
    not_empty_.notify_all();
    not_full_.notify_all();
  }

  std::uint64_t Size() const {
    const std::lock_guard lock(mutex_);
    return items_.size();
  }

  // The largest size the queue has ever reached.
  std::uint64_t HighWaterMark() const {
    const std::lock_guard lock(mutex_);
    return high_water_mark_;
  }

  std::uint64_t Capacity() const { return capacity_; }

 private:
  const std::uint64_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable not_empty_;
  std::condition_variable not_full_;
  std::deque<T> items_;
  std::uint64_t high_water_mark_ = 0;
  bool closed_ = false;
};

}  // namespace boardmill::pipeline
