#pragma once

#include <cstdint>

#include "pipeline/conversion_options.h"
#include "pipeline/parallel/worker_caps.h"
#include "pipeline/parallel/worker_knobs.h"
#include "pipeline/parallel/worker_memory.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The workers of one process of a parallel run: the caps, the memory plan and the knobs' first
// values.
struct WorkerPlan {
  WorkerCaps caps;
  WorkerMemoryPlan memory;
  WorkerKnobs knobs;
};

WorkerPlan PlanWorkers(const ConversionOptions& options, std::uint64_t pending_files,
                       std::uint64_t ceiling_mib);

// Refused before anything is touched: not even one worker fits under the ceiling.
util::Result<void> CheckWorkerFits(const ConversionOptions& options, std::uint64_t ceiling_mib);

// The worker counts a rank of an MPI job reports to rank 0, summed over the other ranks for the
// run's summary.
struct RankCaps {
  std::uint64_t requested_worker_cap = 0;
  std::uint64_t effective_max_workers = 0;
  std::uint64_t stdio_worker_cap = 0;
  std::uint64_t memory_worker_cap = 0;
  std::uint64_t final_active_workers = 0;
};

RankCaps CapsOf(const WorkerPlan& plan);

}  // namespace boardmill::pipeline
