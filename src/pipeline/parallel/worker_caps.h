#pragma once

#include <cstdint>

#include "pipeline/conversion_options.h"
#include "pipeline/parallel/autotune_limits.h"

namespace boardmill::pipeline {

// How many worker threads the parallel mode starts, and why. Every worker keeps a task's input
// file, fragment file and reject rows open, so the open-stream limit caps the pool as well as the
// thread count asked for and the number of files left to convert.
struct WorkerCaps {
  std::uint64_t requested_worker_cap = 0;    // --max-threads, else the usable CPUs
  std::uint64_t pending_file_cap = 0;        // files still to convert, at least 1
  std::uint64_t stdio_limit = 0;             // 0: no limit known
  std::uint64_t reserved_stdio_streams = 0;  // kept back for everything but the workers
  std::uint64_t streams_per_worker = 0;
  std::uint64_t stdio_worker_cap = 0;
  std::uint64_t effective_max_workers = 0;  // the number of worker threads started
};

// `stream_limit` 0 asks the process for its current open-file limit. `usable_cpus` is
// expected to be at least 1 already.
WorkerCaps ComputeWorkerCaps(const ConversionOptions& options, std::uint64_t pending_files,
                             std::uint64_t usable_cpus, std::uint64_t stream_limit);

// The fewest workers that stay active: --min-workers, within [1, max_workers].
std::uint64_t MinimumActiveWorkers(const ConversionOptions& options, std::uint64_t max_workers);

// The active worker count a run starts with: all workers without --autotune; with it,
// --initial-workers (or 8 when not given) clamped into [minimum active, max_workers].
std::uint64_t InitialActiveWorkers(const ConversionOptions& options, std::uint64_t max_workers);

// --merge-threads if given, else a quarter of the workers (at least 1, at most one per shard).
std::uint64_t MergeThreadCount(const ConversionOptions& options, std::uint64_t max_workers);

AutotuneLimits ComputeAutotuneLimits(const ConversionOptions& options, std::uint64_t max_workers);

}  // namespace boardmill::pipeline
