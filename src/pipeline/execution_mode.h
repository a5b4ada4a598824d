#pragma once

#include <cstdint>
#include <string_view>

namespace boardmill::pipeline {

enum class ExecutionMode : std::uint8_t { kAuto = 0, kSequential = 1, kParallel = 2, kStaged = 3 };

// "auto", "sequential", "parallel" or "staged"; any value outside the enumeration reads "auto".
constexpr std::string_view ExecutionModeName(ExecutionMode mode) {
  switch (mode) {
    case ExecutionMode::kSequential:
      return "sequential";
    case ExecutionMode::kParallel:
      return "parallel";
    case ExecutionMode::kStaged:
      return "staged";
    default:
      return "auto";
  }
}

}  // namespace boardmill::pipeline
