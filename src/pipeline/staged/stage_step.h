#pragma once

#include <algorithm>
#include <utility>

#include "pipeline/bounded_queue.h"
#include "pipeline/staged/stage_gate.h"
#include "pipeline/staged/stage_thread_stats.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

// Times the processing of one item by a stage thread. Waits for a full downstream queue are
// counted as blocked-full, not busy; the busy time is what is left.
class StageStep {
 public:
  explicit StageStep(StageThreadStats& stats) : stats_(stats) {}

  StageThreadStats& stats() { return stats_; }

  // Hands `item` on, in state "blocked-full" while it waits; false when the queue was closed
  // (the run is stopping) and the item was dropped.
  template <typename T>
  bool PushTo(BoundedQueue<T>& queue, T item) {
    stats_.SetState(WorkerState::kBlockedFull);
    const QueuePushResult pushed = queue.Push(std::move(item));
    if (pushed.report.had_to_wait) AddBlockedDownstream(pushed.report.waited_seconds);
    stats_.SetState(WorkerState::kBusy);
    return pushed.pushed;
  }

  void AddBlockedDownstream(double seconds) {
    stats_.AddBlockedFull(seconds);
    blocked_seconds_ += seconds;
  }

  // Elapsed time minus the time blocked downstream, at least 0. The first call adds it to the
  // thread's and stage's busy seconds; later calls return the same value.
  double Finish() {
    if (!finished_) {
      busy_seconds_ = std::max(clock_.ElapsedSeconds() - blocked_seconds_, 0.0);
      stats_.AddBusy(busy_seconds_);
      finished_ = true;
    }
    return busy_seconds_;
  }

 private:
  StageThreadStats& stats_;
  const util::Stopwatch clock_;
  double blocked_seconds_ = 0.0;
  double busy_seconds_ = 0.0;
  bool finished_ = false;
};

// The common shape of an elastic stage thread: pass the gate, pop an item (waiting for input
// counts as blocked-empty), process it, and again, until the input is closed and drained, the
// run stops, or `process` returns false. `process(item, step)` does the stage's work.
template <typename T, typename MayPass, typename Process>
void RunStageLoop(StageGate& gate, std::uint64_t worker_index, const std::atomic<bool>& stop,
                  BoundedQueue<T>& input, StageThreadStats& stats, MayPass&& may_pass,
                  Process&& process) {
  stats.SetState(WorkerState::kIdle);
  while (gate.Admit(worker_index, stop, may_pass, stats)) {
    stats.SetState(WorkerState::kBlockedEmpty);
    QueuePopResult<T> popped = input.Pop();
    if (popped.report.had_to_wait) stats.AddBlockedEmpty(popped.report.waited_seconds);
    if (!popped.item || stop.load(std::memory_order_acquire)) break;
    stats.SetState(WorkerState::kBusy);
    StageStep step(stats);
    const bool keep_going = process(std::move(*popped.item), step);
    step.Finish();
    stats.SetState(WorkerState::kIdle);
    if (!keep_going) break;
  }
}

}  // namespace boardmill::pipeline
