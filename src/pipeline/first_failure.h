#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace boardmill::pipeline {

// The failure state shared by the threads of one run: the first message wins, later ones are
// dropped, and every thread can ask cheaply whether the run has failed.
class FirstFailure {
 public:
  void Record(std::string message) {
    std::lock_guard lock(mutex_);
    if (!failed_.load(std::memory_order_relaxed)) message_ = std::move(message);
    failed_.store(true, std::memory_order_release);
  }

  bool failed() const { return failed_.load(std::memory_order_acquire); }

  std::optional<std::string> message() const {
    std::lock_guard lock(mutex_);
    if (!failed_.load(std::memory_order_relaxed)) return std::nullopt;
    return message_;
  }

 private:
  mutable std::mutex mutex_;
  std::string message_;
  std::atomic<bool> failed_{false};
};

}  // namespace boardmill::pipeline
