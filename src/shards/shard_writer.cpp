#include "shards/shard_writer.h"

#include "chess/packed_sfen.h"

namespace boardmill::shards {

ShardWriter::ShardWriter(std::filesystem::path path, std::int32_t compression_level,
                         std::uint64_t records_per_flush)
    : stream_(std::move(path), compression_level) {
  pending_.reserve(records_per_flush * chess::kPackedSfenSize);
}

util::Result<void> ShardWriter::OpenStream() {
  util::Result<std::uint64_t> opened = stream_.Open();
  if (!opened) return std::move(opened).TakeError();
  return {};
}

void ShardWriter::Append(std::span<const std::uint8_t> bytes) {
  pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  const std::uint64_t records = bytes.size() / chess::kPackedSfenSize;
  pending_records_ += records;
  records_ += records;
  raw_bytes_ += bytes.size();
}

util::Result<void> ShardWriter::FlushPending() {
  if (pending_.empty()) return {};
  util::Result<std::uint64_t> written = stream_.Write(pending_);
  if (!written) return std::move(written).TakeError();
  pending_.clear();
  pending_records_ = 0;
  return {};
}

}  // namespace boardmill::shards
