#include "pipeline/shuffle/shard_finisher.h"

#include <algorithm>
#include <limits>

#include "compression/zstd_memory.h"

namespace boardmill::shuffle {

namespace {

constexpr std::uint64_t kLargestHash = std::numeric_limits<std::uint64_t>::max();
// Records wait here before they go to the compressor, so that it is called on large pieces.
constexpr std::size_t kOutputStagingBytes = std::size_t{1} << 20;

}  // namespace

std::uint64_t InitialRangeCount(std::uint64_t entries, std::uint64_t capacity_entries) {
  if (entries <= capacity_entries) return 1;
  // A quarter to spare: the entries of a range vary around their mean.
  const std::uint64_t target = std::max<std::uint64_t>(capacity_entries / 4 * 3, 1);
  return entries / target + 1;
}

ShardFinisher::ShardFinisher(const RecordKeys& keys, std::uint64_t capacity_entries,
                             std::int32_t level)
    : keys_(keys), capacity_entries_(std::max<std::uint64_t>(capacity_entries, 2)), level_(level) {
  output_bytes_.reserve(kOutputStagingBytes);
}

std::uint64_t ShardFinisher::FixedBytes(std::int32_t level, std::uint64_t most_block_entries) {
  const std::uint64_t block_bytes = most_block_entries * sizeof(ShuffleEntry);
  return compression::CompressionStreamMemoryBytes(level, 0) +
         compression::ZstdStreamWriter::kOutputBufferBytes + kOutputStagingBytes + block_bytes +
         compression::CompressedBlockBound(block_bytes) +
         compression::DecompressionStreamMemoryBytes(block_bytes);
}

util::Result<shards::IndexedShard> ShardFinisher::Finish(std::span<const BlockSource> blocks,
                                                         const std::filesystem::path& output) {
  compression::ZstdStreamWriter writer(output, level_);
  util::Result<std::uint64_t> opened = writer.Open();  // an empty shard is an empty frame
  if (!opened) return std::move(opened).TakeError();
  writer_ = &writer;
  records_written_ = 0;
  std::uint64_t entries = 0;
  for (const BlockSource& source : blocks) entries += source.block.entries;
  const std::uint64_t ranges = InitialRangeCount(entries, capacity_entries_);
  const std::uint64_t step = ranges == 1 ? 0 : kLargestHash / ranges + 1;
  for (std::uint64_t range = 0; range < ranges; ++range) {
    const HashRange hashes{range * step,
                           range + 1 == ranges ? kLargestHash : (range + 1) * step - 1};
    util::Result<void> finished = FinishRange(blocks, hashes);
    if (!finished) return std::move(finished).TakeError();
  }
  util::Result<std::uint64_t> ended = writer.Finish();
  writer_ = nullptr;
  if (!ended) return std::move(ended).TakeError();
  return shards::DescribeShard(records_written_, writer.written());
}

util::Result<void> ShardFinisher::FinishRange(std::span<const BlockSource> blocks,
                                              HashRange range) {
  util::Result<bool> gathered = GatherRange(blocks, range);
  ++passes_;
  if (!gathered) return std::move(gathered).TakeError();
  if (!*gathered) {
    if (range.low == range.high) {
      return util::Fail("Memory ceiling is too small: more records share one order hash than fit.");
    }
    const std::uint64_t middle = range.low + (range.high - range.low) / 2;
    util::Result<void> lower = FinishRange(blocks, {range.low, middle});
    if (!lower) return lower;
    return FinishRange(blocks, {middle + 1, range.high});
  }
  OrderAndDeduplicate();
  return WriteGathered();
}

util::Result<bool> ShardFinisher::GatherRange(std::span<const BlockSource> blocks,
                                              HashRange range) {
  gathered_.clear();
  std::uint64_t entries = 0;
  for (const BlockSource& source : blocks) entries += source.block.entries;
  gathered_.reserve(std::min(entries, capacity_entries_));
  for (const BlockSource& source : blocks) {
    util::Result<void> read = block_reader_.Read(*source.file, source.block, block_entries_);
    if (!read) return std::move(read).TakeError();
    for (const ShuffleEntry& entry : block_entries_) {
      const std::uint64_t order = keys_.Order(entry);
      if (order < range.low || order > range.high) continue;
      if (gathered_.size() == capacity_entries_) {
        // Duplicates may make room; entries that are all distinct need a smaller range.
        OrderAndDeduplicate();
        if (gathered_.size() > capacity_entries_ / 2) return false;
      }
      gathered_.push_back({order, entry});
    }
  }
  return true;
}

void ShardFinisher::OrderAndDeduplicate() {
  std::sort(gathered_.begin(), gathered_.end(), [](const OrderedEntry& a, const OrderedEntry& b) {
    return a.order != b.order ? a.order < b.order : a.entry.ordinal < b.entry.ordinal;
  });
  if (keys_.dedup() == DedupMode::kNone) return;
  // Duplicates share their order hash, and within one hash the first seen comes first. A hash
  // may also be shared by records that differ, so each is compared with those kept for it.
  std::size_t kept = 0;
  std::size_t hash_start = 0;
  for (std::size_t at = 0; at < gathered_.size(); ++at) {
    if (kept == 0 || gathered_[kept - 1].order != gathered_[at].order) hash_start = kept;
    const bool seen = std::any_of(gathered_.begin() + static_cast<std::ptrdiff_t>(hash_start),
                                  gathered_.begin() + static_cast<std::ptrdiff_t>(kept),
                                  [&](const OrderedEntry& earlier) {
                                    return keys_.SameIdentity(earlier.entry, gathered_[at].entry);
                                  });
    if (!seen) gathered_[kept++] = gathered_[at];
  }
  gathered_.resize(kept);
}

util::Result<void> ShardFinisher::WriteGathered() {
  for (const OrderedEntry& ordered : gathered_) {
    const std::span<const std::uint8_t> record = ordered.entry.record.bytes;
    output_bytes_.insert(output_bytes_.end(), record.begin(), record.end());
    if (output_bytes_.size() + record.size() > kOutputStagingBytes) {
      util::Result<std::uint64_t> written = writer_->Write(output_bytes_);
      if (!written) return std::move(written).TakeError();
      output_bytes_.clear();
    }
  }
  records_written_ += gathered_.size();
  if (output_bytes_.empty()) return {};
  util::Result<std::uint64_t> written = writer_->Write(output_bytes_);
  output_bytes_.clear();
  if (!written) return std::move(written).TakeError();
  return {};
}

}  // namespace boardmill::shuffle
