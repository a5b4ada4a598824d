#pragma once

#include "pipeline/stage_stats.h"
#include "pipeline/staged/worker_stats.h"

namespace boardmill::pipeline {

// The two records one stage thread reports to: its own and its stage's. Waits are added to both,
// so the stage's sums are the sums over its threads.
class StageThreadStats {
 public:
  StageThreadStats(WorkerStats& worker, StageStats& stage) : worker_(worker), stage_(stage) {}

  WorkerStats& worker() { return worker_; }
  StageStats& stage() { return stage_; }

  void SetState(WorkerState state) { worker_.SetState(state); }

  void AddBusy(double seconds) {
    worker_.AddBusySeconds(seconds);
    stage_.AddBusySeconds(seconds);
  }
  // Time held at the stage gate.
  void AddIdle(double seconds) {
    worker_.AddIdleSeconds(seconds);
    stage_.AddIdleSeconds(seconds);
  }
  // Time spent waiting for input counts as idle too.
  void AddBlockedEmpty(double seconds) {
    AddIdle(seconds);
    worker_.AddBlockedEmptySeconds(seconds);
    stage_.AddBlockedEmptySeconds(seconds);
  }
  void AddBlockedFull(double seconds) {
    worker_.AddBlockedFullSeconds(seconds);
    stage_.AddBlockedFullSeconds(seconds);
  }
  void AddBlockedOrder(double seconds) {
    worker_.AddBlockedOrderSeconds(seconds);
    stage_.AddBlockedOrderSeconds(seconds);
  }

 private:
  WorkerStats& worker_;
  StageStats& stage_;
};

}  // namespace boardmill::pipeline
