#include "shards/shard_record_reader.h"

#include <span>
#include <string>

#include "chess/packed_sfen_codec.h"
#include "compression/zstd_file_decompressor.h"

namespace boardmill::shards {

util::Result<bool> ShardRecordReader::ReadFile(const std::filesystem::path& path,
                                               const ShardRecordVisitor& visit,
                                               const IndexedShard* listed) {
  records_in_file_ = 0;
  assembler_.Reset();
  stopped_ = false;
  util::ByteDigest stored;
  util::Result<void> read = compression::VisitZstdFileChunks(
      path, [&](std::span<const std::uint8_t> chunk) { return TakeChunk(chunk, visit); },
      "shard file", listed != nullptr ? &stored : nullptr);
  if (read && stopped_) return false;
  if (read && assembler_.partial_bytes() != 0) {
    read = util::Fail("the data ends " + std::to_string(assembler_.partial_bytes()) +
                      " bytes into the record.");
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
  return assembler_.Feed(chunk, [&](const chess::PackedSfen& record) -> util::Result<bool> {
    const util::Result<chess::Position> position = chess::DecodePackedSfen(record);
    if (!position) return util::Fail(position.error());
    stopped_ = !visit(record, *position);
    ++records_in_file_;
    return !stopped_;
  });
}

}  // namespace boardmill::shards
