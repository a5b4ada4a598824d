#include "pipeline/sequential/framed_shard_files.h"

#include <cstdio>
#include <system_error>

#include "shards/shard_naming.h"
#include "util/file_sync.h"
#include "util/output_file.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

FramedShardFiles::FramedShardFiles(std::filesystem::path output_directory,
                                   std::int32_t compression_level, bool precreate_shards,
                                   shards::ShardRouter router, std::uint64_t budget_bytes)
    : output_directory_(std::move(output_directory)),
      compression_level_(compression_level),
      precreate_shards_(precreate_shards),
      router_(router),
      files_(router.shard_count()),
      records_(router.shard_count(), budget_bytes) {}

util::Result<void> FramedShardFiles::Open() {
  std::error_code error;
  std::filesystem::create_directories(output_directory_, error);
  if (error) return util::Fail("Failed to create output directory: " + error.message());
  for (std::uint64_t id = 0; id < files_.size(); ++id) {
    files_[id].path = shards::ShardPath(output_directory_, id, router_.shard_count());
    if (!precreate_shards_) continue;
    util::Result<void> opened = OpenFile(files_[id]);
    if (!opened) return opened;
  }
  return {};
}

util::Result<void> FramedShardFiles::OpenFile(ShardFile& shard) {
  shard.file = util::CreateOutputFile(shard.path);
  if (!shard.file) return util::Fail("Failed to open output file: " + shard.path.string());
  return {};
}

util::Result<void> FramedShardFiles::WriteRecord(std::uint64_t shard_id,
                                                 const chess::PackedSfen& record) {
  if (shard_id >= files_.size()) return util::Fail("Shard id is out of range.");
  // Out of pages: the fullest shard becomes a frame now, which frees the most pages.
  while (!records_.Append(shard_id, record)) {
    util::Result<void> compressed = CompressShard(records_.FullestShard());
    if (!compressed) return compressed;
  }
  ++files_[shard_id].records;
  return {};
}

util::Result<void> FramedShardFiles::CompressShard(std::uint64_t shard_id) {
  ShardFile& shard = files_[shard_id];
  if (!shard.file) {
    util::Result<void> opened = OpenFile(shard);
    if (!opened) return opened;
  }
  const std::vector<std::span<const std::uint8_t>> pages = records_.ShardPages(shard_id);
  util::Result<std::uint64_t> compressed = compressor_.CompressFrame(
      compression_level_, pages,
      [this, &shard](std::span<const std::uint8_t> bytes) { return AppendToFile(shard, bytes); });
  if (!compressed) return std::move(compressed).TakeError();
  records_.Release(shard_id);
  return {};
}

util::Result<void> FramedShardFiles::AppendToFile(ShardFile& shard,
                                                  std::span<const std::uint8_t> bytes) {
  const util::Stopwatch clock;
  const std::size_t written = std::fwrite(bytes.data(), 1, bytes.size(), shard.file.get());
  write_seconds_ += clock.ElapsedSeconds();
  if (written != bytes.size()) {
    return util::Fail("Failed to write compressed output: " + shard.path.string());
  }
  shard.written.Add(bytes);
  return {};
}

util::Result<void> FramedShardFiles::CloseFile(ShardFile& shard) {
  // On disk before the run summary can vouch for it, as the streamed shards are.
  util::Result<void> synced = util::SyncFile(shard.file.get(), shard.path);
  if (!synced) return synced;
  // Some file systems report a failed write only when the file is closed; a shard whose tail
  // was lost there must not pass as finished.
  if (std::fclose(shard.file.release()) != 0) {
    return util::Fail("Failed to close output file: " + shard.path.string());
  }
  return {};
}

util::Result<shards::ShardSetSummary> FramedShardFiles::Finish() {
  shards::ShardSetSummary summary;
  summary.shard_count = router_.shard_count();
  summary.shards.reserve(files_.size());
  for (std::uint64_t id = 0; id < files_.size(); ++id) {
    ShardFile& shard = files_[id];
    // A shard that got records has a frame once they are compressed; an empty one gets an empty
    // frame, so that every file there is a Zstandard file.
    const bool frame_due =
        records_.ShardBytes(id) != 0 || (shard.file && shard.written.bytes() == 0);
    if (frame_due) {
      util::Result<void> compressed = CompressShard(id);
      if (!compressed) return std::move(compressed).TakeError();
    }
    if (!shard.file) {
      summary.shards.emplace_back();  // a shard never fed has no file
      continue;
    }
    util::Result<void> closed = CloseFile(shard);
    if (!closed) return std::move(closed).TakeError();
    ++summary.finished_files;
    summary.records += shard.records;
    summary.compressed_bytes += shard.written.bytes();
    summary.shards.push_back(shards::DescribeShard(shard.records, shard.written));
  }
  summary.raw_bytes = summary.records * chess::kPackedSfenSize;
  summary.compress_seconds = compressor_.compress_seconds();
  summary.write_seconds = write_seconds_;
  return summary;
}

}  // namespace boardmill::pipeline
