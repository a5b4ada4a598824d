#pragma once

#include <cstdint>

#include "pipeline/conversion_options.h"

namespace boardmill::pipeline {

// How the parallel mode fits its workers to the memory ceiling. A worker holds a fixed part (its
// reader's buffers and decompression context, a line batch, its compression context and output
// buffer) and the pages of records waiting to be compressed, whose budget it may shrink to a
// floor; everything else the run holds is small beside them.
struct WorkerMemoryPlan {
  std::uint64_t fixed_bytes = 0;
  std::uint64_t record_budget_bytes = 0;  // for each of `workers`
  std::uint64_t memory_worker_cap = 0;    // workers that fit at the floor budget; 0: not one
  std::uint64_t workers = 0;              // min(wanted, memory_worker_cap)
};

// `wanted` is the worker count every other cap allows.
WorkerMemoryPlan PlanWorkerMemory(const ConversionOptions& options, std::uint64_t ceiling_bytes,
                                  std::uint64_t wanted);

// What one worker needs at the floor budget: the least a ceiling must hold for a parallel run.
std::uint64_t MinimumWorkerMemoryBytes(const ConversionOptions& options);

}  // namespace boardmill::pipeline
