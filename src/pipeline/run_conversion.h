#pragma once

#include <cstdint>

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Validates the compression level, resolves the automatic mode and the batch-size defaults, and
// runs the conversion in the resolved mode.
util::Result<ConversionSummary> RunConversion(const ConversionOptions& options);

// The mode `options` resolve to for a process that may use `usable_cpus` CPUs (0 read as 1):
// staged only on request; otherwise parallel when --max-threads, or else the usable CPUs, give
// more than one thread.
ExecutionMode ResolveExecutionMode(const ConversionOptions& options, std::uint64_t usable_cpus);

// Fills in line_batch_size and parse_batch_size where they are 0, for the resolved mode.
void ResolveBatchSizes(ConversionOptions& options, ExecutionMode mode);

}  // namespace boardmill::pipeline
