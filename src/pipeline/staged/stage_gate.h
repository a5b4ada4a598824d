#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "pipeline/staged/stage_thread_stats.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

// Throttles one elastic stage to its current number of active workers: worker w may take an
// item only while w < the active count. The controller changes the count at run time; threads
// held at the gate re-check at least every 100 ms.
class StageGate {
 public:
  static constexpr std::chrono::milliseconds kRecheckInterval{100};

  explicit StageGate(std::uint64_t active) : active_(std::max<std::uint64_t>(active, 1)) {}
  StageGate(const StageGate&) = delete;
  StageGate& operator=(const StageGate&) = delete;

  std::uint64_t Active() const {
    const std::lock_guard lock(mutex_);
    return active_;
  }

  // Stores the new count (at least 1) and wakes every held thread.
  void SetActive(std::uint64_t active) {
    {
      const std::lock_guard lock(mutex_);
      active_ = std::max<std::uint64_t>(active, 1);
    }
    condition_.notify_all();
  }

  // Wakes every held thread so that it re-checks the stop flag, the count and whether it may
  // pass (for instance because an item arrived in its own input queue).
  void WakeAll() {
    {
      const std::lock_guard lock(mutex_);
      ++wake_count_;
    }
    condition_.notify_all();
  }

  // True when worker `worker_index` may take its next item; false once `stop` is set. A worker
  // beyond the active count is still let through while `may_pass` says so (for instance when its
  // input queue is closed and empty, so that it can see the end and finish). Time held at the
  // gate is idle time.
  template <typename MayPass>
  bool Admit(std::uint64_t worker_index, const std::atomic<bool>& stop, MayPass&& may_pass,
             StageThreadStats& stats) {
    for (;;) {
      if (stop.load(std::memory_order_acquire)) return false;
      if (worker_index < Active()) return true;
      // Taken before `may_pass` looks, so that a wake-up sent after it looked is not lost.
      const std::uint64_t wakes_seen = WakeCount();
      if (may_pass()) return true;
      stats.SetState(WorkerState::kThrottled);
      const util::Stopwatch held;
      {
        std::unique_lock lock(mutex_);
        condition_.wait_for(lock, kRecheckInterval, [&] {
          return stop.load(std::memory_order_acquire) || worker_index < active_ ||
                 wake_count_ != wakes_seen;
        });
      }
      stats.AddIdle(held.ElapsedSeconds());
    }
  }

 private:
  std::uint64_t WakeCount() const {
    const std::lock_guard lock(mutex_);
    return wake_count_;
  }

  mutable std::mutex mutex_;
  std::condition_variable condition_;
  std::uint64_t active_;
  std::uint64_t wake_count_ = 0;
};

}  // namespace boardmill::pipeline
