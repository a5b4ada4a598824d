#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "compression/zstd_stream_writer.h"
#include "pipeline/shuffle/record_keys.h"
#include "pipeline/shuffle/spread_file.h"
#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::shuffle {

// A block of one output shard's entries and the spread file that holds it.
struct BlockSource {
  const std::filesystem::path* file = nullptr;
  SpreadBlock block;
};

// Finishes output shards, one at a time: gathers the shard's entries from every spread file,
// keeps the first of each group of duplicates, orders what is left by the order hash (then the
// ordinal) and writes the shard. A shard with more entries than fit in `capacity_entries` is
// done in consecutive ranges of the order hash, each gathered in a pass of its own; since
// duplicates share their order hash and the ranges follow the order, the shard comes out the
// same whichever way it is cut. One per thread; its buffers are kept from shard to shard.
class ShardFinisher {
 public:
  ShardFinisher(const RecordKeys& keys, std::uint64_t capacity_entries, std::int32_t level);

  util::Result<shards::IndexedShard> Finish(std::span<const BlockSource> blocks,
                                            const std::filesystem::path& output);

  // The memory one finisher holds per entry of its capacity, and besides them.
  static constexpr std::uint64_t kBytesPerEntry = 48;

  // The passes over shards' entries so far: one per shard that fits, more for one done in ranges.
  std::uint64_t passes() const { return passes_; }
  static std::uint64_t FixedBytes(std::int32_t level, std::uint64_t most_block_entries);

 private:
  struct OrderedEntry {
    std::uint64_t order;
    ShuffleEntry entry;
  };
  static_assert(sizeof(OrderedEntry) == kBytesPerEntry);

  // The hashes [low, high], both included.
  struct HashRange {
    std::uint64_t low;
    std::uint64_t high;
  };

  util::Result<void> FinishRange(std::span<const BlockSource> blocks, HashRange range);
  // False when the range holds more entries than fit, even without duplicates.
  util::Result<bool> GatherRange(std::span<const BlockSource> blocks, HashRange range);
  // Sorts the gathered entries into their final order and drops every duplicate but the first.
  void OrderAndDeduplicate();
  util::Result<void> WriteGathered();

  const RecordKeys& keys_;
  std::uint64_t capacity_entries_;
  std::int32_t level_;
  SpreadBlockReader block_reader_;
  std::vector<ShuffleEntry> block_entries_;
  std::vector<OrderedEntry> gathered_;
  std::vector<std::uint8_t> output_bytes_;
  compression::ZstdStreamWriter* writer_ = nullptr;
  std::uint64_t records_written_ = 0;
  std::uint64_t passes_ = 0;
};

// The hash ranges a shard of `entries` entries starts with when `capacity_entries` fit at once:
// one for a shard that fits, else equal ranges with room to spare, so that the usual shard is
// gathered once per range.
std::uint64_t InitialRangeCount(std::uint64_t entries, std::uint64_t capacity_entries);

}  // namespace boardmill::shuffle
