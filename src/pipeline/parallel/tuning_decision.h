#pragma once

#include <string>

#include "pipeline/parallel/worker_knobs.h"

namespace boardmill::pipeline {

// One step of the autotuner (or its start), as written to the run manifest: the knob values
// after the step and the rule that made it.
struct TuningDecision {
  double elapsed_seconds = 0.0;  // since the tuner thread started
  WorkerKnobs knobs;
  double throughput = 0.0;  // encoded records per busy encode second in the interval
  std::string reason;
};

}  // namespace boardmill::pipeline
