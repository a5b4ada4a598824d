#pragma once

#include <cstdint>

#include "compression/zstd_line_reader.h"
#include "pipeline/conversion_options.h"
#include "run/run_limits.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Upper bounds on the options that size memory, open files or threads. They are far above any
// real use; past them the machine could not honour the request (memory reserved per shard or
// per batch, one open file per shard, one thread per worker), so the run is refused up front
// with a message instead of aborting, thrashing or hanging halfway.
using run::kMaxShardCount;
inline constexpr std::uint64_t kMaxRecordsPerFlush = std::uint64_t{1} << 20;
inline constexpr std::uint64_t kMaxBatchSize = compression::kMaxLineBatchSize;
using run::kMaxThreadCount;

// Checks that there is at least one shard, then every option bounded above. Every mode checks
// them before it touches anything, so a refused run reads the same in each.
util::Result<void> CheckOptionLimits(const ConversionOptions& options);

}  // namespace boardmill::pipeline
