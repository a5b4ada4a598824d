#pragma once

#include <cstdint>

#include "io/mpi_job.h"
#include "pipeline/conversion_options.h"
#include "pipeline/parallel/run_paths.h"
#include "shards/shard_router.h"

namespace boardmill::pipeline {

// What every rank of a parallel run across an MPI job works from, resolved from the options in
// one place so that all ranks agree on the paths, the routing and the memory ceiling.
struct RankContext {
  RankContext(const ConversionOptions& options, const io::MpiJob& job);

  const ConversionOptions& options;
  const io::MpiJob& job;
  const RunPaths paths;
  const shards::ShardRouter router;
  const std::uint64_t ceiling_mib;
};

}  // namespace boardmill::pipeline
