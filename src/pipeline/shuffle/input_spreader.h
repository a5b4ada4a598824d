#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "pipeline/shuffle/input_shard_reader.h"
#include "pipeline/shuffle/record_keys.h"
#include "pipeline/shuffle/spread_file.h"
#include "util/result.h"

namespace boardmill::shuffle {

// What spreading one input shard wrote.
struct SpreadSummary {
  InputShardDigest input;
  std::uint64_t scratch_bytes = 0;
};

// Spreads input shards, one at a time, into spread files: every record, with its ordinal, goes
// to the buffer of the output shard its route hash picks, and a full buffer becomes a block. One
// per thread; its buffers are sized once and kept from shard to shard.
class InputSpreader {
 public:
  // `buffer_entries`: how many entries wait per output shard before they become a block.
  InputSpreader(const RecordKeys& keys, std::uint64_t shard_count, std::uint64_t buffer_entries,
                std::int32_t scratch_level);

  util::Result<SpreadSummary> Spread(const InputShard& shard, const std::filesystem::path& spread);

  InputShardReader& reader() { return reader_; }

  // Called with each buffer's count of records as it is spread, for a progress count.
  std::function<void(std::uint64_t records)> on_records_spread;

 private:
  util::Result<void> Take(const InputShard& shard, std::span<const std::uint8_t> records);
  util::Result<void> FlushBuffer(std::uint64_t output_shard);

  const RecordKeys& keys_;
  std::uint64_t buffer_entries_;
  std::vector<std::vector<ShuffleEntry>> buffers_;
  InputShardReader reader_;
  SpreadFileWriter writer_;
  std::uint64_t next_index_ = 0;
};

// The memory one spreader holds besides its buffers of entries: the reader's buffers and
// decompression context, the scratch compressor and its output.
std::uint64_t SpreaderFixedBytes(std::int32_t scratch_level, std::uint64_t buffer_entries);

}  // namespace boardmill::shuffle
