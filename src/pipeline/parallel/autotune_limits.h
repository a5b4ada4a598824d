#pragma once

#include "pipeline/parallel/worker_knobs.h"

namespace boardmill::pipeline {

// The ranges within which the autotuner may move the parallel mode's knobs, and how often it
// looks. Knobs may start outside a range; the tuner only moves them toward its ends. No rule
// lowers the flush size or raises the level: those two ends are carried for completeness.
struct AutotuneLimits {
  WorkerKnobs lowest{.active_workers = 1,
                     .line_batch_size = 256,
                     .records_per_flush = 256,
                     .compression_level = 1};
  WorkerKnobs highest{.active_workers = 1,
                      .line_batch_size = 32768,
                      .records_per_flush = 32768,
                      .compression_level = 22};
  double tuning_interval_seconds = 1.0;
};

}  // namespace boardmill::pipeline
