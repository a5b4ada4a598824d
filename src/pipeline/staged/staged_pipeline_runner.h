#pragma once

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The staged execution mode: reader, decompress, line-index, parse, compress and writer stages
// joined by bounded queues, each stage served by its own pool of threads, with an optional
// controller that moves active workers between stages. Writes the same shard contents as the
// other modes, plus four statistics files and run-summary.txt.
util::Result<ConversionSummary> RunStaged(const ConversionOptions& options);

}  // namespace boardmill::pipeline
