#pragma once

#include <cstdint>
#include <string>

namespace boardmill::pipeline {

// One step of the autotuner (or its start), as written to the run manifest: the knob values
// after the step and the rule that made it.
struct TuningDecision {
  double elapsed_seconds = 0.0;  // since the tuner thread started
  std::uint64_t active_workers = 0;
  std::uint64_t line_batch_size = 0;
  std::uint64_t records_per_flush = 0;
  std::int32_t compression_level = 0;
  double throughput = 0.0;  // encoded records per busy encode second in the interval
  std::string reason;
};

}  // namespace boardmill::pipeline
