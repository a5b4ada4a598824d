#pragma once

#include "io/run_locks.h"
#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Locks every place a convert run in `mode` writes, always in this order, so that two runs
// never hold one lock each: the output directory (created first so that its lock file has a
// place); in parallel mode a --scratch-dir outside it (created too) and a --manifest outside it;
// in parallel and staged mode a --reject-log outside it. The directories of the manifest and the
// reject log are created here, as their writers would, so that their locks have a place too.
// Runners call this once the refusals that must leave an earlier output untouched are behind
// them and before they create or remove anything else; the run keeps the locks to its end.
util::Result<io::RunLocks> AcquireRunLocks(const ConversionOptions& options, ExecutionMode mode);

}  // namespace boardmill::pipeline
