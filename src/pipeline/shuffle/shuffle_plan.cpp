#include "pipeline/shuffle/shuffle_plan.h"

#include <algorithm>
#include <string>

#include "pipeline/shuffle/input_spreader.h"
#include "pipeline/shuffle/shard_finisher.h"
#include "run/memory_ceiling.h"

namespace boardmill::shuffle {

namespace {

// A block of a few thousand entries compresses well and keeps the number of blocks per output
// shard small; fewer than the least would make blocks too small to compress.
constexpr std::uint64_t kMostBufferEntries = 8192;
constexpr std::uint64_t kLeastBufferEntries = 64;
// A finisher that holds fewer entries than this would gather its shard in too many passes.
constexpr std::uint64_t kLeastCapacityEntries = 4096;

std::uint64_t SpreaderBytes(std::uint64_t output_shards, std::uint64_t buffer_entries) {
  return SpreaderFixedBytes(kScratchCompressionLevel, buffer_entries) +
         output_shards * buffer_entries * sizeof(ShuffleEntry);
}

}  // namespace

util::Result<ShufflePlan> PlanShuffle(const ShuffleOptions& options, std::uint64_t input_shards) {
  const std::uint64_t ceiling = run::MemoryCeilingBytes(options.memory_ceiling_mib);
  ShufflePlan plan;

  const std::uint64_t least_spreader = SpreaderBytes(options.shard_count, kLeastBufferEntries);
  plan.spread_threads = std::min({options.max_threads, input_shards, ceiling / least_spreader});
  if (plan.spread_threads == 0) {
    const std::string shards = options.shard_count == 1
                                   ? std::string("1 shard")
                                   : std::to_string(options.shard_count) + " shards";
    return run::CheckMemoryNeed(options.memory_ceiling_mib, least_spreader,
                                "a shuffle into " + shards)
        .TakeError();
  }
  const std::uint64_t spreader_share = ceiling / plan.spread_threads;
  const std::uint64_t spread_fixed =
      SpreaderFixedBytes(kScratchCompressionLevel, kMostBufferEntries);
  const std::uint64_t room = spreader_share > spread_fixed ? spreader_share - spread_fixed : 0;
  plan.buffer_entries = std::clamp<std::uint64_t>(
      room / (options.shard_count * sizeof(ShuffleEntry)), kLeastBufferEntries, kMostBufferEntries);

  const std::uint64_t least_finisher =
      ShardFinisher::FixedBytes(options.compression_level, plan.buffer_entries) +
      kLeastCapacityEntries * ShardFinisher::kBytesPerEntry;
  if (ceiling < least_finisher) {
    return run::CheckMemoryNeed(
               options.memory_ceiling_mib, least_finisher,
               "a shuffle finishing a shard at level " + std::to_string(options.compression_level))
        .TakeError();
  }
  PlanFinishing(options, 0, plan);
  return plan;
}

void PlanFinishing(const ShuffleOptions& options, std::uint64_t largest_shard_entries,
                   ShufflePlan& plan) {
  const std::uint64_t ceiling = run::MemoryCeilingBytes(options.memory_ceiling_mib);
  const std::uint64_t fixed =
      ShardFinisher::FixedBytes(options.compression_level, plan.buffer_entries);
  const std::uint64_t most_threads = std::min(options.max_threads, options.shard_count);
  const std::uint64_t whole = fixed + std::max(largest_shard_entries, kLeastCapacityEntries) *
                                          ShardFinisher::kBytesPerEntry;
  const std::uint64_t least = fixed + kLeastCapacityEntries * ShardFinisher::kBytesPerEntry;
  plan.finish_threads = std::min(most_threads, ceiling / whole);
  if (plan.finish_threads == 0)
    plan.finish_threads = std::max<std::uint64_t>(std::min(most_threads, ceiling / least), 1);
  plan.capacity_entries = (ceiling / plan.finish_threads - fixed) / ShardFinisher::kBytesPerEntry;
}

}  // namespace boardmill::shuffle
