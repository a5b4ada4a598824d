#include "pipeline/parallel/worker_caps.h"

#include <zstd.h>

#include <algorithm>

#include "util/stream_limit.h"

namespace boardmill::pipeline {

namespace {

constexpr std::uint64_t kMaxReservedStreams = 256;
// A task holds its input file, its fragment file and its reject rows open, whatever the shard
// count: records wait in memory until they are compressed into the fragment.
constexpr std::uint64_t kStreamsPerWorker = 3;
constexpr std::uint64_t kDefaultInitialAutotuneWorkers = 8;
constexpr std::uint64_t kMergeWorkersPerThread = 4;

}  // namespace

WorkerCaps ComputeWorkerCaps(const ConversionOptions& options, std::uint64_t pending_files,
                             std::uint64_t usable_cpus, std::uint64_t stream_limit) {
  WorkerCaps caps;
  caps.requested_worker_cap =
      std::max<std::uint64_t>(options.max_threads != 0 ? options.max_threads : usable_cpus, 1);
  caps.pending_file_cap = std::max<std::uint64_t>(pending_files, 1);
  std::uint64_t effective = std::min(caps.pending_file_cap, caps.requested_worker_cap);

  caps.stdio_limit = stream_limit != 0 ? stream_limit : util::CurrentStreamLimit();
  if (caps.stdio_limit != 0) {
    caps.reserved_stdio_streams =
        caps.stdio_limit == 1 ? 0 : std::min(caps.stdio_limit - 1, kMaxReservedStreams);
    caps.streams_per_worker = kStreamsPerWorker;
    caps.stdio_worker_cap = std::max<std::uint64_t>(
        (caps.stdio_limit - caps.reserved_stdio_streams) / caps.streams_per_worker, 1);
    effective = std::min(effective, caps.stdio_worker_cap);
  }
  caps.effective_max_workers = std::max<std::uint64_t>(effective, 1);
  return caps;
}

std::uint64_t MinimumActiveWorkers(const ConversionOptions& options, std::uint64_t max_workers) {
  return std::min(std::max<std::uint64_t>(options.min_workers, 1), max_workers);
}

std::uint64_t InitialActiveWorkers(const ConversionOptions& options, std::uint64_t max_workers) {
  if (!options.enable_autotune) return max_workers;
  const std::uint64_t wanted = options.initial_workers != 0
                                   ? options.initial_workers
                                   : std::min(kDefaultInitialAutotuneWorkers, max_workers);
  return std::clamp(wanted, MinimumActiveWorkers(options, max_workers), max_workers);
}

std::uint64_t MergeThreadCount(const ConversionOptions& options, std::uint64_t max_workers) {
  if (options.merge_threads != 0) return options.merge_threads;
  return std::min(std::max<std::uint64_t>(max_workers / kMergeWorkersPerThread, 1),
                  options.output_shard_count);
}

AutotuneLimits ComputeAutotuneLimits(const ConversionOptions& options, std::uint64_t max_workers) {
  AutotuneLimits limits;
  limits.lowest.active_workers = MinimumActiveWorkers(options, max_workers);
  limits.highest.active_workers = max_workers;
  limits.highest.compression_level = ZSTD_maxCLevel();
  limits.tuning_interval_seconds = options.tuning_interval_seconds;
  return limits;
}

}  // namespace boardmill::pipeline
