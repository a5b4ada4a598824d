#pragma once

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The single-threaded mode: reads every input file in turn, encodes each line, routes it and
// writes it into the final shards; leaves run-summary.txt on success.
util::Result<ConversionSummary> RunSequential(const ConversionOptions& options);

util::Result<void> WriteSequentialRunSummary(const ConversionOptions& options,
                                             const ConversionSummary& summary);

}  // namespace boardmill::pipeline
