#include "pipeline/parallel/file_group_task.h"

#include <algorithm>
#include <span>
#include <string>

#include "pipeline/line_encoder.h"
#include "pipeline/parallel/fragment_file.h"
#include "pipeline/parallel/reject_part_writer.h"
#include "util/file_sync.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

// Converts the files of one task, one after another, into the task's fragment and reject part.
class FileGroupConverter {
 public:
  FileGroupConverter(const FileGroupTask& task, const ConversionOptions& options,
                     const shards::ShardRouter& router, WorkerResources& resources)
      : task_(task),
        input_directory_(options.input_directory),
        max_lines_(options.max_lines_per_file),
        progress_(options.progress),
        encoder_(options.enable_fast_encoder, options.fen_reading, router),
        router_(router),
        resources_(resources) {}

  util::Result<std::vector<FileProcessingSummary>> Run() {
    const fs::path fragment = FragmentPath(task_.fragments_root, task_.group);
    util::Result<void> opened = fragment_.Open(fragment);
    if (opened) opened = rejects_.Open(RejectPartPath(fragment));
    if (!opened) return std::move(opened).TakeError();
    const double compress_seconds_before = resources_.compressor.compress_seconds();

    std::vector<FileProcessingSummary> summaries;
    summaries.reserve(task_.group.file_count);
    for (std::uint64_t offset = 0; offset < task_.group.file_count; ++offset) {
      util::Result<FileProcessingSummary> converted = ConvertFile(task_.group.first_file + offset);
      if (!converted) return std::move(converted).TakeError();
      summaries.push_back(std::move(*converted));
    }
    util::Result<void> finished = CompressEveryShard();
    if (!finished) return std::move(finished).TakeError();
    ShareOutput(resources_.compressor.compress_seconds() - compress_seconds_before, summaries);
    // The reject rows first: the fragment is what marks the task done.
    finished = rejects_.Commit();
    if (finished)
      finished =
          fragment_.Commit(task_.group.first_file, summaries, rejects_.rows(), input_directory_);
    // Both files are synced before their renames; the names reach the disk here, before the
    // manifest counts the task's files as done and a resumed run would trust the fragment.
    if (finished) finished = util::SyncDirectory(fragment.parent_path());
    if (!finished) return std::move(finished).TakeError();
    return summaries;
  }

 private:
  util::Result<FileProcessingSummary> ConvertFile(std::uint64_t file_index) {
    file_ = {};
    file_.file_index = file_index;
    file_.input_path = task_.files[file_index];
    file_.line_batch_size = task_.knobs.line_batch_size;
    file_.records_per_flush = task_.knobs.records_per_flush;
    file_.compression_level = task_.knobs.compression_level;
    util::Result<compression::ZstdLineReadSummary> read =
        resources_.reader.Visit(file_.input_path, task_.knobs.line_batch_size,
                                [this](std::span<const compression::ZstdLineBatchEntry> batch) {
                                  return HandleBatch(batch);
                                });
    if (!read) return std::move(read).TakeError();
    file_.compressed_input_bytes = read->compressed_bytes;
    file_.decompressed_input_bytes = read->decompressed_bytes;
    file_.read_seconds = read->read_seconds;
    file_.decompress_seconds = read->decompress_seconds;
    file_.split_seconds = read->split_seconds;
    if (progress_ != nullptr) {
      progress_->AddInputBytesRead(read->compressed_bytes);
      progress_->AddFilesDone(1);
    }
    return file_;
  }

  // Encodes the batch's lines up to the file's line cap; false once the cap is reached.
  util::Result<bool> HandleBatch(std::span<const compression::ZstdLineBatchEntry> batch) {
    const util::Stopwatch clock;
    const std::span<const compression::ZstdLineBatchEntry> wanted =
        LinesWithinCap(batch, file_.visited_lines, max_lines_);
    util::Result<LineBatchCounts> counts = encoder_.EncodeBatch(
        wanted, [this](const EncodedLine& encoded) { return TakeRecord(encoded); },
        [this](const compression::ZstdLineBatchEntry& line, const std::string& message) {
          return rejects_.Append(file_.input_path, line.line_number, message, line.text);
        });
    if (!counts) return std::move(counts).TakeError();
    file_ += counts->Totals(clock.ElapsedSeconds());
    if (progress_ != nullptr) progress_->AddLines(counts->records, counts->rejects);
    return wanted.size() == batch.size();
  }

  util::Result<void> TakeRecord(const EncodedLine& encoded) {
    // Out of pages: the fullest shard becomes a frame now, which frees the most pages.
    while (!resources_.records.Append(encoded.shard_id, encoded.record)) {
      util::Result<void> compressed = CompressShard(resources_.records.FullestShard());
      if (!compressed) return compressed;
    }
    return {};
  }

  util::Result<void> CompressShard(std::uint64_t shard) {
    ShardRecordBuffer& records = resources_.records;
    const std::vector<std::span<const std::uint8_t>> pages = records.ShardPages(shard);
    util::Result<void> appended =
        fragment_.AppendFrame(shard, records.ShardBytes(shard) / chess::kPackedSfenSize, pages,
                              task_.knobs.compression_level, resources_.compressor);
    records.Release(shard);
    return appended;
  }

  util::Result<void> CompressEveryShard() {
    for (std::uint64_t shard = 0; shard < router_.shard_count(); ++shard) {
      if (resources_.records.ShardBytes(shard) == 0) continue;
      util::Result<void> compressed = CompressShard(shard);
      if (!compressed) return compressed;
    }
    return {};
  }

  // Hands each file its share of what compressing and writing the task's frames cost, the last
  // file taking what rounding left, so that the files' compressed bytes add up to the task's.
  void ShareOutput(double compress_seconds, std::vector<FileProcessingSummary>& summaries) const {
    std::uint64_t raw_total = 0;
    for (const FileProcessingSummary& summary : summaries) raw_total += summary.raw_output_bytes;
    const std::uint64_t frame_bytes = fragment_.frame_bytes();
    std::uint64_t bytes_left = frame_bytes;
    for (std::size_t file = 0; file < summaries.size(); ++file) {
      FileProcessingSummary& summary = summaries[file];
      const double share = raw_total == 0 ? 0.0
                                          : static_cast<double>(summary.raw_output_bytes) /
                                                static_cast<double>(raw_total);
      const std::uint64_t bytes =
          file + 1 == summaries.size()
              ? bytes_left
              : std::min(bytes_left,
                         static_cast<std::uint64_t>(share * static_cast<double>(frame_bytes)));
      summary.compressed_output_bytes = bytes;
      bytes_left -= bytes;
      summary.compress_seconds = share * compress_seconds;
      summary.write_seconds = share * fragment_.write_seconds();
    }
  }

  const FileGroupTask& task_;
  const fs::path& input_directory_;
  const std::uint64_t max_lines_;
  RunProgress* const progress_;
  const LineEncoder encoder_;
  const shards::ShardRouter& router_;
  WorkerResources& resources_;
  FragmentFileWriter fragment_;
  RejectPartWriter rejects_;
  FileProcessingSummary file_;
};

}  // namespace

util::Result<std::vector<FileProcessingSummary>> ConvertFileGroup(const FileGroupTask& task,
                                                                  const ConversionOptions& options,
                                                                  const shards::ShardRouter& router,
                                                                  WorkerResources& resources) {
  return FileGroupConverter(task, options, router, resources).Run();
}

}  // namespace boardmill::pipeline
