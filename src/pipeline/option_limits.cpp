#include "pipeline/option_limits.h"

#include "util/bounds.h"

namespace boardmill::pipeline {

util::Result<void> CheckOptionLimits(const ConversionOptions& options) {
  // Records are routed modulo the shard count.
  if (options.output_shard_count == 0) return util::Fail("Output shard count must be at least 1.");
  struct Bound {
    const char* what;
    std::uint64_t value;
    std::uint64_t limit;
  };
  const Bound bounds[] = {
      {"Output shard count", options.output_shard_count, kMaxShardCount},
      {"Records-per-flush", options.records_per_flush, kMaxRecordsPerFlush},
      {"Line batch size", options.line_batch_size, kMaxBatchSize},
      {"Parse batch size", options.parse_batch_size, kMaxBatchSize},
      {"Max threads", options.max_threads, kMaxThreadCount},
      {"Reader workers", options.reader_workers, kMaxThreadCount},
      {"Decompress workers", options.decompress_workers, kMaxThreadCount},
      {"Line index workers", options.line_index_workers, kMaxThreadCount},
      {"Parse workers", options.parse_workers, kMaxThreadCount},
      {"Compress workers", options.compress_workers, kMaxThreadCount},
      {"Merge threads", options.merge_threads, kMaxThreadCount},
  };
  for (const Bound& bound : bounds) {
    util::Result<void> checked = util::CheckAtMost(bound.what, bound.value, bound.limit);
    if (!checked) return checked;
  }
  return {};
}

}  // namespace boardmill::pipeline
