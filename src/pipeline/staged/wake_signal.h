#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace boardmill::pipeline {

// A one-way flag a sleeping thread can be woken by: once raised, every SleepFor returns at
// once. Lets the controller end at the end of the run instead of finishing its interval.
class WakeSignal {
 public:
  void Raise() {
    {
      const std::lock_guard lock(mutex_);
      raised_ = true;
    }
    condition_.notify_all();
  }

  // Sleeps for `duration` unless the signal is raised first; true when it was raised.
  template <typename Rep, typename Period>
  bool SleepFor(std::chrono::duration<Rep, Period> duration) {
    std::unique_lock lock(mutex_);
    return condition_.wait_for(lock, duration, [this] { return raised_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool raised_ = false;
};

}  // namespace boardmill::pipeline
