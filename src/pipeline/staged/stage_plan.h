#pragma once

#include <cstdint>

#include "pipeline/conversion_options.h"
#include "pipeline/staged/pipeline_stage.h"

namespace boardmill::pipeline {

// How many threads each elastic stage of the staged pipeline starts and how many of them are
// admitted at first.
struct StagePlan {
  // T: --max-threads, else the usable CPUs (2 when unknown), at least 2.
  std::uint64_t thread_budget = 0;
  ElasticCounts pool_sizes{};
  ElasticCounts initial_active{};
};

// The stage defaults for a budget of `thread_budget` threads and `file_count` input files, in
// the order reader, decompress, line_index, parse, compress. The parse default takes whatever
// the others leave of the budget, at least 1.
ElasticCounts DefaultStageWorkers(std::uint64_t thread_budget, std::uint64_t file_count);

// Sizes every elastic stage from the options; `usable_cpus` is what util::UsableCpuCount
// counts (0 read as unknown).
StagePlan PlanStages(const ConversionOptions& options, std::uint64_t file_count,
                     std::uint64_t usable_cpus);

}  // namespace boardmill::pipeline
