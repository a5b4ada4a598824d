#include "pipeline/staged/stage_statistics_files.h"

#include <initializer_list>
#include <string>
#include <string_view>

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

// The columns a stage's row and a worker's row share, in the order both files list them.
constexpr std::string_view kItemsAndBytesColumns = "items_in\titems_out\tbytes_in\tbytes_out";
constexpr std::string_view kSecondsColumns =
    "busy_seconds\tidle_seconds\tblocked_empty_seconds\tblocked_full_seconds\t"
    "blocked_order_seconds";

void AddItemsAndBytes(TsvLine& line, const ActivitySnapshot& activity) {
  line.Add(activity.items_in)
      .Add(activity.items_out)
      .Add(activity.bytes_in)
      .Add(activity.bytes_out);
}

void AddSeconds(TsvLine& line, const ActivitySnapshot& activity) {
  line.Add(activity.busy_seconds)
      .Add(activity.idle_seconds)
      .Add(activity.blocked_empty_seconds)
      .Add(activity.blocked_full_seconds)
      .Add(activity.blocked_order_seconds);
}

constexpr std::string_view kDepthColumns =
    "file_queue_depth\tdecompress_queue_depth\tline_index_queue_depth\tparse_queue_depth\t"
    "compress_queue_depth\twriter_backlog_blocks";

void AddDepths(TsvLine& line, const PipelineDepths& depths) {
  line.Add(depths.file_queue)
      .Add(depths.decompress)
      .Add(depths.line_index)
      .Add(depths.parse)
      .Add(depths.compress)
      .Add(depths.writer_backlog);
}

// Writes the file: `header`, then one line per row, its fields added by `add_fields`.
template <typename Row, typename AddFields>
util::Result<void> WriteTsv(const std::filesystem::path& path, const std::string& header,
                            std::span<const Row> rows, AddFields add_fields) {
  std::string text = header + "\n";
  for (const Row& row : rows) {
    TsvLine line;
    add_fields(line, row);
    line.AppendTo(text);
  }
  return WriteText(path, text);
}

std::string Joined(std::initializer_list<std::string_view> columns) {
  std::string joined;
  for (const std::string_view column : columns) {
    if (!joined.empty()) joined += '\t';
    joined += column;
  }
  return joined;
}

}  // namespace

util::Result<void> WriteStageStatsFile(const std::filesystem::path& path,
                                       std::span<const StageStatsRow> rows) {
  const std::string header =
      Joined({"stage\tworkers", kItemsAndBytesColumns, "batches", kSecondsColumns,
              "queue_samples\tqueue_depth_avg\tqueue_depth_max"});
  return WriteTsv(path, header, rows, [](TsvLine& line, const StageStatsRow& row) {
    const StageStatsSnapshot& s = row.stats;
    const double depth_average = s.queue_samples == 0 ? 0.0
                                                      : static_cast<double>(s.queue_depth_sum) /
                                                            static_cast<double>(s.queue_samples);
    line.Add(row.stage).Add(row.workers);
    AddItemsAndBytes(line, s);
    line.Add(s.batches);
    AddSeconds(line, s);
    line.Add(s.queue_samples).Add(depth_average).Add(s.queue_depth_max);
  });
}

util::Result<void> WriteWorkerStatsFile(const std::filesystem::path& path,
                                        std::span<const WorkerStatsRow> rows) {
  const std::string header = Joined({"stage\tworker_id\tstate\tbatches", kItemsAndBytesColumns,
                                     "max_batch_items\tmax_batch_bytes", kSecondsColumns});
  return WriteTsv(path, header, rows, [](TsvLine& line, const WorkerStatsRow& row) {
    const WorkerStatsSnapshot& s = row.stats;
    line.Add(row.stage).Add(row.worker_id).Add(WorkerStateName(s.state)).Add(s.batches);
    AddItemsAndBytes(line, s);
    line.Add(s.max_batch_items).Add(s.max_batch_bytes);
    AddSeconds(line, s);
  });
}

util::Result<void> WriteQueueStatsFile(const std::filesystem::path& path,
                                       std::span<const QueueSampleRow> rows) {
  const std::string header = Joined({"elapsed_seconds", kDepthColumns});
  return WriteTsv(path, header, rows, [](TsvLine& line, const QueueSampleRow& row) {
    line.Add(row.elapsed_seconds);
    AddDepths(line, row.depths);
  });
}

util::Result<void> WriteControllerStatsFile(const std::filesystem::path& path,
                                            std::span<const ControllerRow> rows) {
  const std::string header =
      Joined({"elapsed_seconds\tactive_reader_workers\tactive_decompress_workers\t"
              "active_line_index_workers\tactive_parse_workers\tactive_compress_workers",
              kDepthColumns,
              "reader_busy_ratio\treader_empty_ratio\t"
              "reader_full_ratio\tdecompress_busy_ratio\tdecompress_empty_ratio\t"
              "decompress_full_ratio\tline_index_busy_ratio\tline_index_empty_ratio\t"
              "line_index_full_ratio\tparse_busy_ratio\tparse_empty_ratio\tparse_full_ratio\t"
              "compress_busy_ratio\tcompress_empty_ratio\tcompress_full_ratio\twrite_busy_ratio\t"
              "reader_items_out\tdecompress_items_out\tline_index_items_out\tparse_items_out\t"
              "compress_items_out\twrite_items_out\taction\treason"});
  return WriteTsv(path, header, rows, [](TsvLine& line, const ControllerRow& row) {
    line.Add(row.elapsed_seconds);
    for (const std::uint64_t active : row.active) line.Add(active);
    AddDepths(line, row.depths);
    for (const StageRatios& ratios : row.ratios) {
      line.Add(ratios.busy).Add(ratios.empty).Add(ratios.full);
    }
    line.Add(row.write_busy_ratio);
    for (const std::uint64_t delta : row.items_out_deltas) line.Add(delta);
    line.Add(std::string_view(row.action)).Add(std::string_view(row.reason));
  });
}

}  // namespace boardmill::pipeline
