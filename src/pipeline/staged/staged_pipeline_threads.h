#pragma once

#include "pipeline/staged/staged_pipeline.h"

namespace boardmill::pipeline {

// Runs a staged pipeline to its end: starts the queue sampler, the controller (with --autotune;
// otherwise records the "autotune-disabled" row), one writer per shard and the five stage
// pools, then joins the pools, the controller, the writers and the sampler, in that order. On
// return every thread has been joined; a failure is in `pipeline.failure`.
void RunStagedPipelineThreads(StagedPipeline& pipeline);

}  // namespace boardmill::pipeline
