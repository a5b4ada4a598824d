#include "pipeline/staged/worker_stats.h"

namespace boardmill::pipeline {

std::string_view WorkerStateName(std::uint32_t state) {
  switch (static_cast<WorkerState>(state)) {
    case WorkerState::kStarting:
      return "starting";
    case WorkerState::kIdle:
      return "idle";
    case WorkerState::kBusy:
      return "busy";
    case WorkerState::kBlockedEmpty:
      return "blocked-empty";
    case WorkerState::kBlockedFull:
      return "blocked-full";
    case WorkerState::kBlockedOrderedWrite:
      return "blocked-ordered-write";
    case WorkerState::kThrottled:
      return "throttled";
    case WorkerState::kFinished:
      return "finished";
  }
  return "unknown";
}

}  // namespace boardmill::pipeline
