#include "pipeline/staged/worker_stats.h"

#include <array>

namespace boardmill::pipeline {

std::string_view WorkerStateName(std::uint32_t state) {
  // Indexed by the enumerator's value.
  constexpr std::array<std::string_view, 8> kNames = {
      "starting",  "idle",    "busy", "blocked-empty", "blocked-full", "blocked-ordered-write",
      "throttled", "finished"};
  return state < kNames.size() ? kNames[state] : "unknown";
}

}  // namespace boardmill::pipeline
