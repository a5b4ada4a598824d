#include "pipeline/shuffle/input_spreader.h"

#include <cstring>
#include <string>

#include "compression/zstd_memory.h"

namespace boardmill::shuffle {

namespace {

constexpr std::uint64_t kMostRecordsPerShard = std::uint64_t{1} << kRecordIndexBits;

}  // namespace

InputSpreader::InputSpreader(const RecordKeys& keys, std::uint64_t shard_count,
                             std::uint64_t buffer_entries, std::int32_t scratch_level)
    : keys_(keys), buffer_entries_(buffer_entries), buffers_(shard_count), writer_(scratch_level) {
  // Reserved, not filled: a buffer's pages cost memory only once entries reach them.
  for (std::vector<ShuffleEntry>& buffer : buffers_) buffer.reserve(buffer_entries);
}

util::Result<SpreadSummary> InputSpreader::Spread(const InputShard& shard,
                                                  const std::filesystem::path& spread) {
  util::Result<void> opened = writer_.Open(spread);
  if (!opened) return std::move(opened).TakeError();
  next_index_ = 0;
  for (std::vector<ShuffleEntry>& buffer : buffers_) buffer.clear();
  util::Result<InputShardDigest> digest = reader_.Read(
      shard, [&](std::span<const std::uint8_t> records) { return Take(shard, records); });
  if (!digest) return std::move(digest).TakeError();
  for (std::uint64_t output_shard = 0; output_shard < buffers_.size(); ++output_shard) {
    util::Result<void> flushed = FlushBuffer(output_shard);
    if (!flushed) return std::move(flushed).TakeError();
  }
  util::Result<std::uint64_t> committed = writer_.Commit(*digest);
  if (!committed) return std::move(committed).TakeError();
  return SpreadSummary{.input = *digest, .scratch_bytes = *committed};
}

util::Result<void> InputSpreader::Take(const InputShard& shard,
                                       std::span<const std::uint8_t> records) {
  ShuffleEntry entry;
  for (std::size_t at = 0; at < records.size(); at += entry.record.bytes.size()) {
    if (next_index_ == kMostRecordsPerShard) {
      return util::Fail("Input shard holds more than 2^40 records: " + shard.path.string());
    }
    std::memcpy(entry.record.bytes.data(), records.data() + at, entry.record.bytes.size());
    entry.ordinal = MakeOrdinal(shard.sequence, next_index_);
    const std::optional<std::uint64_t> output_shard = keys_.Route(entry);
    if (!output_shard) {
      return util::Fail("Failed to decode record " + std::to_string(next_index_) + " of " +
                        shard.path.string() + ": it is not a valid PackedSfen record.");
    }
    ++next_index_;
    std::vector<ShuffleEntry>& buffer = buffers_[*output_shard];
    buffer.push_back(entry);
    if (buffer.size() == buffer_entries_) {
      util::Result<void> flushed = FlushBuffer(*output_shard);
      if (!flushed) return flushed;
    }
  }
  if (on_records_spread) on_records_spread(records.size() / entry.record.bytes.size());
  return {};
}

util::Result<void> InputSpreader::FlushBuffer(std::uint64_t output_shard) {
  std::vector<ShuffleEntry>& buffer = buffers_[output_shard];
  if (buffer.empty()) return {};
  util::Result<void> appended = writer_.AppendBlock(output_shard, buffer);
  buffer.clear();
  return appended;
}

std::uint64_t SpreaderFixedBytes(std::int32_t scratch_level, std::uint64_t buffer_entries) {
  const std::uint64_t block_bytes = buffer_entries * sizeof(ShuffleEntry);
  return 2 * InputShardReader::kBufferBytes +
         compression::DecompressionStreamMemoryBytes(compression::kTypicalWindowBytes) +
         compression::BlockCompressionMemoryBytes(scratch_level, block_bytes) +
         compression::CompressedBlockBound(block_bytes);
}

}  // namespace boardmill::shuffle
