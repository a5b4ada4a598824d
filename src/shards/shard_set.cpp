#include "shards/shard_set.h"

#include <system_error>

#include "shards/shard_naming.h"

namespace boardmill::shards {

ShardSet::ShardSet(std::filesystem::path output_directory, std::int32_t compression_level,
                   std::uint64_t records_per_flush, bool precreate_shards, ShardRouter router)
    : output_directory_(std::move(output_directory)),
      compression_level_(compression_level),
      records_per_flush_(records_per_flush > 1 ? records_per_flush : 1),
      precreate_shards_(precreate_shards),
      router_(router) {}

util::Result<std::uint64_t> ShardSet::Open() {
  if (is_open_) return static_cast<std::uint64_t>(writers_.size());
  std::error_code error;
  std::filesystem::create_directories(output_directory_, error);
  if (error) return util::Fail("Failed to create output directory: " + error.message());

  writers_.clear();
  writers_.resize(router_.shard_count());
  if (precreate_shards_) {
    for (std::uint64_t id = 0; id < router_.shard_count(); ++id) {
      auto writer =
          std::make_unique<ShardWriter>(ShardPath(output_directory_, id, router_.shard_count()),
                                        compression_level_, records_per_flush_);
      util::Result<void> opened = writer->OpenStream();
      if (!opened) return std::move(opened).TakeError();
      writers_[id] = std::move(writer);
    }
  }
  is_open_ = true;
  return static_cast<std::uint64_t>(writers_.size());
}

util::Result<ShardWriter*> ShardSet::OpenedWriter(std::uint64_t shard_id) {
  if (!is_open_) {
    util::Result<std::uint64_t> opened = Open();
    if (!opened) return std::move(opened).TakeError();
  }
  if (shard_id >= writers_.size()) return util::Fail("Shard id is out of range.");
  std::unique_ptr<ShardWriter>& writer = writers_[shard_id];
  if (!writer) {
    writer =
        std::make_unique<ShardWriter>(ShardPath(output_directory_, shard_id, router_.shard_count()),
                                      compression_level_, records_per_flush_);
  }
  if (!writer->opened()) {
    util::Result<void> opened = writer->OpenStream();
    if (!opened) return std::move(opened).TakeError();
  }
  return writer.get();
}

util::Result<std::uint64_t> ShardSet::Write(std::uint64_t shard_id,
                                            std::span<const std::uint8_t> bytes) {
  util::Result<ShardWriter*> writer = OpenedWriter(shard_id);
  if (!writer) return std::move(writer).TakeError();
  if (bytes.size() % chess::kPackedSfenSize != 0) {
    return util::Fail("Shard write payload is not aligned to PackedSfen size.");
  }
  (*writer)->Append(bytes);
  if ((*writer)->pending_records() >= records_per_flush_) {
    util::Result<void> flushed = (*writer)->FlushPending();
    if (!flushed) return std::move(flushed).TakeError();
  }
  return (*writer)->records();
}

util::Result<ShardSetSummary> ShardSet::Finish() {
  if (!is_open_) return ShardSetSummary{};
  ShardSetSummary summary;
  summary.shards.reserve(writers_.size());
  // Shards sync on threads of their own while the next ones end their frames.
  util::BackgroundSyncs syncs("Failed to close output file: ");
  for (const std::unique_ptr<ShardWriter>& writer : writers_) {
    if (!writer) {
      summary.shards.emplace_back();  // a shard never fed has no file
      continue;
    }
    util::Result<void> flushed = writer->FlushPending();
    if (!flushed) return std::move(flushed).TakeError();
    if (writer->opened()) {
      util::Result<std::uint64_t> finished = writer->stream().Finish(syncs);
      if (!finished) return std::move(finished).TakeError();
      ++summary.finished_files;
    }
    summary.records += writer->records();
    summary.raw_bytes += writer->raw_bytes();
    summary.compressed_bytes += writer->stream().compressed_bytes();
    summary.compress_seconds += writer->stream().compress_seconds();
    summary.write_seconds += writer->stream().write_seconds();
    summary.shards.push_back(DescribeShard(writer->records(), writer->stream().written()));
  }
  util::Result<void> synced = syncs.Finish();
  if (!synced) return std::move(synced).TakeError();
  is_open_ = false;
  summary.shard_count = router_.shard_count();
  return summary;
}

}  // namespace boardmill::shards
