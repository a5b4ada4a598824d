#pragma once

#include <cstdint>

#include "pipeline/conversion_options.h"
#include "pipeline/staged/pipeline_stage.h"

namespace boardmill::pipeline {

// How many threads each elastic stage of the staged pipeline starts and how many of them are
// admitted at first.
struct StagePlan {
  // T: --max-threads, else the hardware thread count (2 when unknown), at least 2.
  std::uint64_t thread_budget = 0;
  ElasticCounts pool_sizes{};
  ElasticCounts initial_active{};
};

// The stage defaults for a budget of `thread_budget` threads and `file_count` input files, in
// the order reader, decompress, line_index, parse, compress. The parse default takes whatever
// the others leave of the budget, at least 1.
ElasticCounts DefaultStageWorkers(std::uint64_t thread_budget, std::uint64_t file_count);

// Sizes every elastic stage from the options; `hardware_threads` is what the platform reports
// (0 when it does not know).
StagePlan PlanStages(const ConversionOptions& options, std::uint64_t file_count,
                     std::uint64_t hardware_threads);

}  // namespace boardmill::pipeline
