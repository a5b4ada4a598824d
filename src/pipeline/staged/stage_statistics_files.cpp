#include "pipeline/staged/stage_statistics_files.h"

#include <string>

#include "util/file_sync.h"
#include "util/number_format.h"
#include "util/whole_file.h"

namespace boardmill::pipeline {

namespace {

constexpr int kDecimals = 6;

// Builds one tab-separated line.
class TsvLine {
 public:
  TsvLine& Add(std::string_view text) {
    if (!first_) line_ += '\t';
    line_ += text;
    first_ = false;
    return *this;
  }
  TsvLine& Add(std::uint64_t value) { return Add(std::string_view(std::to_string(value))); }
  TsvLine& Add(double value) { return Add(std::string_view(util::FormatFixed(value, kDecimals))); }

  void AppendTo(std::string& text) const { text.append(line_).append("\n"); }

 private:
  std::string line_;
  bool first_ = true;
};

// The statistics are a by-product of the run: one that cannot be written does not fail it. One
// that was written is on disk before the run summary can point to it.
util::Result<void> WriteText(const std::filesystem::path& path, const std::string& text) {
  if (util::WriteWholeFile(path, text) != util::WholeFileWrite::kWritten) return {};
  return util::SyncFile(path);
}

void AddDepths(TsvLine& line, const PipelineDepths& depths) {
  line.Add(depths.file_queue)
      .Add(depths.decompress)
      .Add(depths.line_index)
      .Add(depths.parse)
      .Add(depths.compress)
      .Add(depths.writer_backlog);
}

}  // namespace

util::Result<void> WriteStageStatsFile(const std::filesystem::path& path,
                                       std::span<const StageStatsRow> rows) {
  std::string text =
      "stage\tworkers\titems_in\titems_out\tbytes_in\tbytes_out\tbatches\tbusy_seconds\t"
      "idle_seconds\tblocked_empty_seconds\tblocked_full_seconds\tblocked_order_seconds\t"
      "queue_samples\tqueue_depth_avg\tqueue_depth_max\n";
  for (const StageStatsRow& row : rows) {
    const StageStatsSnapshot& s = row.stats;
    const double depth_average = s.queue_samples == 0 ? 0.0
                                                      : static_cast<double>(s.queue_depth_sum) /
                                                            static_cast<double>(s.queue_samples);
    TsvLine line;
    line.Add(row.stage)
        .Add(row.workers)
        .Add(s.items_in)
        .Add(s.items_out)
        .Add(s.bytes_in)
        .Add(s.bytes_out)
        .Add(s.batches)
        .Add(s.busy_seconds)
        .Add(s.idle_seconds)
        .Add(s.blocked_empty_seconds)
        .Add(s.blocked_full_seconds)
        .Add(s.blocked_order_seconds)
        .Add(s.queue_samples)
        .Add(depth_average)
        .Add(s.queue_depth_max)
        .AppendTo(text);
  }
  return WriteText(path, text);
}

util::Result<void> WriteWorkerStatsFile(const std::filesystem::path& path,
                                        std::span<const WorkerStatsRow> rows) {
  std::string text =
      "stage\tworker_id\tstate\tbatches\titems_in\titems_out\tbytes_in\tbytes_out\t"
      "max_batch_items\tmax_batch_bytes\tbusy_seconds\tidle_seconds\tblocked_empty_seconds\t"
      "blocked_full_seconds\tblocked_order_seconds\n";
  for (const WorkerStatsRow& row : rows) {
    const WorkerStatsSnapshot& s = row.stats;
    TsvLine line;
    line.Add(row.stage)
        .Add(row.worker_id)
        .Add(WorkerStateName(s.state))
        .Add(s.batches)
        .Add(s.items_in)
        .Add(s.items_out)
        .Add(s.bytes_in)
        .Add(s.bytes_out)
        .Add(s.max_batch_items)
        .Add(s.max_batch_bytes)
        .Add(s.busy_seconds)
        .Add(s.idle_seconds)
        .Add(s.blocked_empty_seconds)
        .Add(s.blocked_full_seconds)
        .Add(s.blocked_order_seconds)
        .AppendTo(text);
  }
  return WriteText(path, text);
}

util::Result<void> WriteQueueStatsFile(const std::filesystem::path& path,
                                       std::span<const QueueSampleRow> rows) {
  std::string text =
      "elapsed_seconds\tfile_queue_depth\tdecompress_queue_depth\tline_index_queue_depth\t"
      "parse_queue_depth\tcompress_queue_depth\twriter_backlog_blocks\n";
  for (const QueueSampleRow& row : rows) {
    TsvLine line;
    line.Add(row.elapsed_seconds);
    AddDepths(line, row.depths);
    line.AppendTo(text);
  }
  return WriteText(path, text);
}

util::Result<void> WriteControllerStatsFile(const std::filesystem::path& path,
                                            std::span<const ControllerRow> rows) {
  std::string text =
      "elapsed_seconds\tactive_reader_workers\tactive_decompress_workers\t"
      "active_line_index_workers\tactive_parse_workers\tactive_compress_workers\t"
      "file_queue_depth\tdecompress_queue_depth\tline_index_queue_depth\tparse_queue_depth\t"
      "compress_queue_depth\twriter_backlog_blocks\treader_busy_ratio\treader_empty_ratio\t"
      "reader_full_ratio\tdecompress_busy_ratio\tdecompress_empty_ratio\t"
      "decompress_full_ratio\tline_index_busy_ratio\tline_index_empty_ratio\t"
      "line_index_full_ratio\tparse_busy_ratio\tparse_empty_ratio\tparse_full_ratio\t"
      "compress_busy_ratio\tcompress_empty_ratio\tcompress_full_ratio\twrite_busy_ratio\t"
      "reader_items_out\tdecompress_items_out\tline_index_items_out\tparse_items_out\t"
      "compress_items_out\twrite_items_out\taction\treason\n";
  for (const ControllerRow& row : rows) {
    TsvLine line;
    line.Add(row.elapsed_seconds);
    for (const std::uint64_t active : row.active) line.Add(active);
    AddDepths(line, row.depths);
    for (const StageRatios& ratios : row.ratios)
      line.Add(ratios.busy).Add(ratios.empty).Add(ratios.full);
    line.Add(row.write_busy_ratio);
    for (const std::uint64_t delta : row.items_out_deltas) line.Add(delta);
    line.Add(std::string_view(row.action)).Add(std::string_view(row.reason)).AppendTo(text);
  }
  return WriteText(path, text);
}

}  // namespace boardmill::pipeline
