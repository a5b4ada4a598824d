#pragma once

#include "io/run_locks.h"
#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Locks every place a convert run in `mode` writes (run::AcquireRunLocks): the output
// directory; in parallel mode a --scratch-dir outside it and a --manifest outside it; in
// parallel and staged mode a --reject-log outside it.
util::Result<io::RunLocks> AcquireRunLocks(const ConversionOptions& options, ExecutionMode mode);

}  // namespace boardmill::pipeline
