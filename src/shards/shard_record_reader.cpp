#include "shards/shard_record_reader.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "chess/packed_sfen_codec.h"
#include "compression/zstd_file_decompressor.h"

namespace boardmill::shards {

util::Result<bool> ShardRecordReader::ReadFile(const std::filesystem::path& path,
                                               const ShardRecordVisitor& visit,
                                               const IndexedShard* listed) {
  records_in_file_ = 0;
  filled_ = 0;
  stopped_ = false;
  util::ByteDigest stored;
  util::Result<void> read = compression::VisitZstdFileChunks(
      path, [&](std::span<const std::uint8_t> chunk) { return TakeChunk(chunk, visit); },
      "shard file", listed != nullptr ? &stored : nullptr);
  if (read && stopped_) return false;
  if (read && filled_ != 0) {
    read = util::Fail("the data ends " + std::to_string(filled_) + " bytes into the record.");
  }
  if (!read) {
    return util::Fail("Failed to decode record " + std::to_string(records_in_file_) + " of " +
                      path.string() + ": " + read.error());
  }
  if (listed != nullptr) {
    util::Result<void> checked = CheckStoredShard(path, stored, *listed);
    if (!checked) return std::move(checked).TakeError();
  }
  return true;
}

util::Result<bool> ShardRecordReader::TakeChunk(std::span<const std::uint8_t> chunk,
                                                const ShardRecordVisitor& visit) {
  while (!chunk.empty()) {
    const std::size_t take = std::min(record_.bytes.size() - filled_, chunk.size());
    std::memcpy(record_.bytes.data() + filled_, chunk.data(), take);
    filled_ += take;
    chunk = chunk.subspan(take);
    if (filled_ < record_.bytes.size()) break;
    filled_ = 0;
    const util::Result<chess::Position> position = chess::DecodePackedSfen(record_);
    if (!position) return util::Fail(position.error());
    stopped_ = !visit(record_, *position);
    ++records_in_file_;
    if (stopped_) return false;
  }
  return true;
}

}  // namespace boardmill::shards
