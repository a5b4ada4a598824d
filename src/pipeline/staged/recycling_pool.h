#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace boardmill::pipeline {

// Hands out objects as shared pointers and takes them back when their last owner lets go, so
// that large buffers are reused instead of being allocated per slab or per batch. At most
// `max_free` returned objects are kept; the rest are destroyed. T must have clear(), which
// empties it (keeping its capacity) before it goes back to the pool. The pool must outlive
// every object it hands out.
template <typename T>
class RecyclingPool {
 public:
  explicit RecyclingPool(std::uint64_t max_free) : max_free_(max_free) {}
  RecyclingPool(const RecyclingPool&) = delete;
  RecyclingPool& operator=(const RecyclingPool&) = delete;

  // The most recently returned object, or a new one when none is free.
  std::shared_ptr<T> Acquire() {
    std::unique_ptr<T> object = TakeFree();
    if (!object) object = std::make_unique<T>();
    return std::shared_ptr<T>(object.release(), [this](T* returned) { Return(returned); });
  }

  std::uint64_t FreeCount() const {
    const std::lock_guard lock(mutex_);
    return free_.size();
  }

 private:
  std::unique_ptr<T> TakeFree() {
    const std::lock_guard lock(mutex_);
    if (free_.empty()) return nullptr;
    std::unique_ptr<T> object = std::move(free_.back());
    free_.pop_back();
    return object;
  }

  void Return(T* returned) {
    std::unique_ptr<T> object(returned);
    object->clear();
    const std::lock_guard lock(mutex_);
    if (free_.size() < max_free_) free_.push_back(std::move(object));
  }

  const std::uint64_t max_free_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<T>> free_;
};

}  // namespace boardmill::pipeline
