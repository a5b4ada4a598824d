#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "compression/zstd_stream_writer.h"
#include "util/result.h"

namespace boardmill::shards {

// One shard of a ShardSet: records wait in `pending` until a flush hands them to the stream.
class ShardWriter {
 public:
  ShardWriter(std::filesystem::path path, std::int32_t compression_level,
              std::uint64_t records_per_flush);

  util::Result<void> OpenStream();
  // Appends whole records; the caller has checked the alignment.
  void Append(std::span<const std::uint8_t> bytes);
  // Hands everything pending to the stream; on failure the bytes stay pending.
  util::Result<void> FlushPending();

  bool opened() const { return stream_.is_open(); }
  std::uint64_t pending_records() const { return pending_records_; }
  std::uint64_t records() const { return records_; }
  std::uint64_t raw_bytes() const { return raw_bytes_; }
  compression::ZstdStreamWriter& stream() { return stream_; }

 private:
  compression::ZstdStreamWriter stream_;
  std::vector<std::uint8_t> pending_;
  std::uint64_t pending_records_ = 0;
  std::uint64_t records_ = 0;
  std::uint64_t raw_bytes_ = 0;
};

}  // namespace boardmill::shards
