#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "chess/packed_sfen.h"
#include "shards/shard_index.h"
#include "shards/shard_router.h"
#include "shards/shard_writer.h"
#include "util/result.h"

namespace boardmill::shards {

struct ShardSetSummary {
  std::uint64_t shard_count = 0;
  std::uint64_t finished_files = 0;
  std::uint64_t records = 0;
  std::uint64_t raw_bytes = 0;
  std::uint64_t compressed_bytes = 0;
  double compress_seconds = 0.0;
  double write_seconds = 0.0;
  std::vector<IndexedShard> shards;  // per shard id, what its file received
};

// One compressed output stream per shard in one directory. Records are buffered per shard and
// handed to the stream `records_per_flush` at a time.
class ShardSet {
 public:
  ShardSet(std::filesystem::path output_directory, std::int32_t compression_level,
           std::uint64_t records_per_flush, bool precreate_shards, ShardRouter router);

  // Creates the directory and, with precreate_shards, every shard file; the value is the number
  // of shard slots.
  util::Result<std::uint64_t> Open();
  // Appends whole 32-byte records to a shard; the value is the shard's record count.
  util::Result<std::uint64_t> Write(std::uint64_t shard_id, std::span<const std::uint8_t> bytes);
  util::Result<std::uint64_t> WriteRecord(std::uint64_t shard_id, const chess::PackedSfen& record) {
    return Write(shard_id, record.bytes);
  }
  // Flushes and ends every shard's frame.
  util::Result<ShardSetSummary> Finish();

 private:
  util::Result<ShardWriter*> OpenedWriter(std::uint64_t shard_id);

  std::filesystem::path output_directory_;
  std::int32_t compression_level_;
  std::uint64_t records_per_flush_;
  bool precreate_shards_;
  ShardRouter router_;
  std::vector<std::unique_ptr<ShardWriter>> writers_;
  bool is_open_ = false;
};

}  // namespace boardmill::shards
