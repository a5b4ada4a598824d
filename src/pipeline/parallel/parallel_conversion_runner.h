#pragma once

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The parallel mode: a pool of workers converts groups of input files each into its own fragment
// file, records every finished file in the run manifest (so that an interrupted run can resume),
// and the fragments are then concatenated, in file order, into the shards. Across an MPI job,
// rank 0 coordinates (RankCoordinator) and the other ranks follow (RankFollower).
util::Result<ConversionSummary> RunParallel(const ConversionOptions& options);

}  // namespace boardmill::pipeline
