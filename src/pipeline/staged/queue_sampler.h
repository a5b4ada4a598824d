#pragma once

#include <atomic>
#include <chrono>

namespace boardmill::pipeline {

struct StagedPipeline;

inline constexpr std::chrono::nanoseconds kQueueSampleInterval{200000000};

// Records one queue-depth sample: a row of queue-stats.tsv, and each stage's queue fields.
void SampleQueues(StagedPipeline& pipeline);

// The queue sampler thread: a sample at once, then one every 200 ms until `stop_sampling` is seen
// after a sample, then a last one. Its sleep is not cut short, so the runner sets the flag only
// once everything else has been joined and the last sample shows the drained pipeline.
void RunQueueSampler(StagedPipeline& pipeline, const std::atomic<bool>& stop_sampling);

}  // namespace boardmill::pipeline
