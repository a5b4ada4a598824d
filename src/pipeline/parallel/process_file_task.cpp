#include "pipeline/parallel/process_file_task.h"

#include <span>
#include <system_error>
#include <vector>

#include "compression/zstd_line_reader.h"
#include "pipeline/line_encoder.h"
#include "pipeline/shard_set.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

// The batch visitor of one file: stages each batch's records per shard and hands every touched
// shard its records in one write.
class FragmentWriter {
 public:
  FragmentWriter(const fs::path& input_path, const ConversionOptions& options,
                 const WorkerKnobs& knobs, RejectLogger& reject_log, const ShardRouter& router,
                 ShardSet& fragments, FileProcessingSummary& summary)
      : input_path_(input_path),
        max_lines_(options.max_lines_per_file),
        encoder_(options.enable_fast_encoder, router),
        reject_log_(reject_log),
        fragments_(fragments),
        summary_(summary),
        staging_(router.shard_count()) {
    const std::uint64_t records_per_flush =
        knobs.records_per_flush > 1 ? knobs.records_per_flush : 1;
    for (std::vector<std::uint8_t>& buffer : staging_) {
      buffer.reserve(records_per_flush * chess::kPackedSfenSize);
    }
    touched_.reserve(router.shard_count());
  }

  util::Result<bool> HandleBatch(std::span<const compression::ZstdLineBatchEntry> batch) {
    const util::Stopwatch clock;
    touched_.clear();
    bool more = true;
    for (const compression::ZstdLineBatchEntry& entry : batch) {
      if (max_lines_ != 0 && summary_.visited_lines >= max_lines_) {
        more = false;
        break;
      }
      ++summary_.visited_lines;
      util::Result<void> staged = StageLine(entry);
      if (!staged) return std::move(staged).TakeError();
    }
    util::Result<void> written = WriteTouchedShards();
    if (!written) return std::move(written).TakeError();
    summary_.encode_seconds += clock.ElapsedSeconds();
    return more;
  }

 private:
  util::Result<void> StageLine(const compression::ZstdLineBatchEntry& entry) {
    const util::Result<EncodedLine> encoded = encoder_.Encode(entry.text);
    if (!encoded) {
      ++summary_.invalid_positions;
      util::Result<std::uint64_t> logged =
          reject_log_.Append(input_path_, entry.line_number, encoded.error(), entry.text);
      if (!logged) return std::move(logged).TakeError();
      return {};
    }
    std::vector<std::uint8_t>& buffer = staging_[encoded->shard_id];
    if (buffer.empty()) touched_.push_back(encoded->shard_id);
    buffer.insert(buffer.end(), encoded->record.bytes.begin(), encoded->record.bytes.end());
    ++summary_.encoded_positions;
    summary_.raw_output_bytes += chess::kPackedSfenSize;
    return {};
  }

  util::Result<void> WriteTouchedShards() {
    for (const std::uint64_t shard : touched_) {
      util::Result<std::uint64_t> written = fragments_.Write(shard, staging_[shard]);
      if (!written) return std::move(written).TakeError();
      staging_[shard].clear();
    }
    return {};
  }

  const fs::path& input_path_;
  const std::uint64_t max_lines_;
  const LineEncoder encoder_;
  RejectLogger& reject_log_;
  ShardSet& fragments_;
  FileProcessingSummary& summary_;
  std::vector<std::vector<std::uint8_t>> staging_;
  std::vector<std::uint64_t> touched_;
};

}  // namespace

util::Result<FileProcessingSummary> ProcessFileTask(
    std::uint64_t file_index, const fs::path& input_path, const fs::path& fragment_directory,
    const ConversionOptions& options, const WorkerKnobs& knobs, RejectLogger& reject_log,
    const ShardRouter& router) {
  std::error_code ignored;
  fs::remove_all(fragment_directory, ignored);  // a leftover of an interrupted attempt
  ShardSet fragments(fragment_directory, knobs.compression_level, knobs.records_per_flush,
                     /*precreate_shards=*/false, router);
  util::Result<std::uint64_t> opened = fragments.Open();
  if (!opened) return std::move(opened).TakeError();

  FileProcessingSummary summary;
  summary.file_index = file_index;
  summary.input_path = input_path;
  summary.line_batch_size = knobs.line_batch_size;
  summary.records_per_flush = knobs.records_per_flush;
  summary.compression_level = knobs.compression_level;

  FragmentWriter writer(input_path, options, knobs, reject_log, router, fragments, summary);
  util::Result<compression::ZstdLineReadSummary> read = compression::VisitZstdLineBatches(
      input_path, knobs.line_batch_size,
      [&writer](std::span<const compression::ZstdLineBatchEntry> batch) {
        return writer.HandleBatch(batch);
      });
  if (!read) return std::move(read).TakeError();
  summary.compressed_input_bytes = read->compressed_bytes;
  summary.decompressed_input_bytes = read->decompressed_bytes;
  summary.read_seconds = read->read_seconds;
  summary.decompress_seconds = read->decompress_seconds;
  summary.split_seconds = read->split_seconds;

  util::Result<ShardSetSummary> finished = fragments.Finish();
  if (!finished) return std::move(finished).TakeError();
  summary.compressed_output_bytes = finished->compressed_bytes;
  summary.compress_seconds = finished->compress_seconds;
  summary.write_seconds = finished->write_seconds;
  return summary;
}

}  // namespace boardmill::pipeline
