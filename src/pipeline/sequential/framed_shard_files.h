#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "chess/packed_sfen.h"
#include "compression/zstd_frame_compressor.h"
#include "pipeline/shard_record_buffer.h"
#include "shards/shard_router.h"
#include "shards/shard_set.h"
#include "util/byte_digest.h"
#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::pipeline {

// The final shard files of a sequential run written as a series of frames each, for ceilings too
// small for a stream per shard. Records wait in one bounded `ShardRecordBuffer`; when it is full,
// the fullest shard's records become one frame of pledged size, appended to its file, and at the
// end every shard's remaining records do. One compression context serves every frame. The files
// decompress to what a `shards::ShardSet` would write from the same records.
class FramedShardFiles {
 public:
  FramedShardFiles(std::filesystem::path output_directory, std::int32_t compression_level,
                   bool precreate_shards, shards::ShardRouter router, std::uint64_t budget_bytes);

  // Creates the directory and, with precreate_shards, every shard file.
  util::Result<void> Open();
  util::Result<void> WriteRecord(std::uint64_t shard_id, const chess::PackedSfen& record);
  // Compresses what every shard still holds and closes the files; a file that received no
  // record holds one empty frame.
  util::Result<shards::ShardSetSummary> Finish();

 private:
  struct ShardFile {
    std::filesystem::path path;
    util::UniqueFile file;
    util::ByteDigest written;
    std::uint64_t records = 0;
  };

  util::Result<void> OpenFile(ShardFile& shard);
  util::Result<void> CompressShard(std::uint64_t shard_id);
  util::Result<void> AppendToFile(ShardFile& shard, std::span<const std::uint8_t> bytes);
  util::Result<void> CloseFile(ShardFile& shard);

  std::filesystem::path output_directory_;
  std::int32_t compression_level_;
  bool precreate_shards_;
  shards::ShardRouter router_;
  std::vector<ShardFile> files_;
  ShardRecordBuffer records_;
  compression::ZstdFrameCompressor compressor_;
  double write_seconds_ = 0.0;
};

}  // namespace boardmill::pipeline
