#include "pipeline/index_and_verify_shards.h"

#include "shards/shard_verification.h"

namespace boardmill::pipeline {

util::Result<void> IndexAndVerifyShards(const ConversionOptions& options,
                                        std::span<const shards::IndexedShard> shards) {
  util::Result<void> indexed =
      shards::WriteShardIndex(options.output_directory, shards::RoutingKind::kOccupancy, shards);
  if (!indexed || !options.verify_output) return indexed;
  util::Result<shards::ShardVerificationSummary> verified =
      shards::VerifyShards(options.output_directory, options.output_shard_count);
  if (!verified) return std::move(verified).TakeError();
  return {};
}

}  // namespace boardmill::pipeline
