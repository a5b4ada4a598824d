#include "pipeline/run_outcome_files.h"

#include "pipeline/run_summary_file.h"
#include "pipeline/shard_verification.h"

namespace boardmill::pipeline {

util::Result<void> RemoveEarlierRunOutcome(const std::filesystem::path& directory) {
  util::Result<void> removed = RemoveStaleRunSummary(directory);
  if (removed) removed = RemoveStaleShardIndex(directory);
  return removed;
}

util::Result<void> IndexAndVerifyShards(const ConversionOptions& options,
                                        std::span<const IndexedShard> shards) {
  util::Result<void> indexed = WriteShardIndex(options.output_directory, shards);
  if (!indexed || !options.verify_output) return indexed;
  util::Result<ShardVerificationSummary> verified =
      VerifyShards(options.output_directory, options.output_shard_count);
  if (!verified) return std::move(verified).TakeError();
  return {};
}

}  // namespace boardmill::pipeline
