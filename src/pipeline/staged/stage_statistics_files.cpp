#include "pipeline/staged/stage_statistics_files.h"

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

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

// A column that shows a field of a snapshot: its name in the header beside the field its rows
// show, so that the two cannot drift apart.
template <typename Snapshot, typename Value>
struct Column {
  std::string_view name;
  Value Snapshot::*field;
};

template <typename Snapshot, typename Value, std::size_t kSize>
using Columns = std::array<Column<Snapshot, Value>, kSize>;

// The columns a stage's row and a worker's row share, in the order both files list them.
constexpr Columns<ActivitySnapshot, std::uint64_t, 4> kItemsAndBytesColumns = {{
    {"items_in", &ActivitySnapshot::items_in},
    {"items_out", &ActivitySnapshot::items_out},
    {"bytes_in", &ActivitySnapshot::bytes_in},
    {"bytes_out", &ActivitySnapshot::bytes_out},
}};
constexpr Columns<ActivitySnapshot, double, 5> kSecondsColumns = {{
    {"busy_seconds", &ActivitySnapshot::busy_seconds},
    {"idle_seconds", &ActivitySnapshot::idle_seconds},
    {"blocked_empty_seconds", &ActivitySnapshot::blocked_empty_seconds},
    {"blocked_full_seconds", &ActivitySnapshot::blocked_full_seconds},
    {"blocked_order_seconds", &ActivitySnapshot::blocked_order_seconds},
}};
constexpr Columns<PipelineDepths, std::uint64_t, 6> kDepthColumns = {{
    {"file_queue_depth", &PipelineDepths::file_queue},
    {"decompress_queue_depth", &PipelineDepths::decompress},
    {"line_index_queue_depth", &PipelineDepths::line_index},
    {"parse_queue_depth", &PipelineDepths::parse},
    {"compress_queue_depth", &PipelineDepths::compress},
    {"writer_backlog_blocks", &PipelineDepths::writer_backlog},
}};

// Adds a column, or tab-separated columns, to the end of a header.
void AppendColumns(std::string& header, std::string_view columns) {
  if (!header.empty()) header += '\t';
  header += columns;
}

// The header names of `columns`, tab-separated.
template <typename Snapshot, typename Value, std::size_t kSize>
std::string Names(const Columns<Snapshot, Value, kSize>& columns) {
  std::string names;
  for (const Column<Snapshot, Value>& column : columns) AppendColumns(names, column.name);
  return names;
}

// The values of `columns` from `snapshot`, which may be a snapshot that extends theirs.
template <typename Snapshot, typename Value, std::size_t kSize>
void AddValues(TsvLine& line, const Columns<Snapshot, Value, kSize>& columns,
               const std::type_identity_t<Snapshot>& snapshot) {
  for (const Column<Snapshot, Value>& column : columns) line.Add(snapshot.*column.field);
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
  for (const std::string_view column : columns) AppendColumns(joined, column);
  return joined;
}

}  // namespace

util::Result<void> WriteStageStatsFile(const std::filesystem::path& path,
                                       std::span<const StageStatsRow> rows) {
  const std::string header =
      Joined({"stage\tworkers", Names(kItemsAndBytesColumns), "batches", Names(kSecondsColumns),
              "queue_samples\tqueue_depth_avg\tqueue_depth_max"});
  return WriteTsv(path, header, rows, [](TsvLine& line, const StageStatsRow& row) {
    const StageStatsSnapshot& s = row.stats;
    const double depth_average = s.queue_samples == 0 ? 0.0
                                                      : static_cast<double>(s.queue_depth_sum) /
                                                            static_cast<double>(s.queue_samples);
    line.Add(row.stage).Add(row.workers);
    AddValues(line, kItemsAndBytesColumns, s);
    line.Add(s.batches);
    AddValues(line, kSecondsColumns, s);
    line.Add(s.queue_samples).Add(depth_average).Add(s.queue_depth_max);
  });
}

util::Result<void> WriteWorkerStatsFile(const std::filesystem::path& path,
                                        std::span<const WorkerStatsRow> rows) {
  const std::string header =
      Joined({"stage\tworker_id\tstate\tbatches", Names(kItemsAndBytesColumns),
              "max_batch_items\tmax_batch_bytes", Names(kSecondsColumns)});
  return WriteTsv(path, header, rows, [](TsvLine& line, const WorkerStatsRow& row) {
    const WorkerStatsSnapshot& s = row.stats;
    line.Add(row.stage).Add(row.worker_id).Add(WorkerStateName(s.state)).Add(s.batches);
    AddValues(line, kItemsAndBytesColumns, s);
    line.Add(s.max_batch_items).Add(s.max_batch_bytes);
    AddValues(line, kSecondsColumns, s);
  });
}

util::Result<void> WriteQueueStatsFile(const std::filesystem::path& path,
                                       std::span<const QueueSampleRow> rows) {
  const std::string header = Joined({"elapsed_seconds", Names(kDepthColumns)});
  return WriteTsv(path, header, rows, [](TsvLine& line, const QueueSampleRow& row) {
    line.Add(row.elapsed_seconds);
    AddValues(line, kDepthColumns, row.depths);
  });
}

util::Result<void> WriteControllerStatsFile(const std::filesystem::path& path,
                                            std::span<const ControllerRow> rows) {
  const std::string header =
      Joined({"elapsed_seconds\tactive_reader_workers\tactive_decompress_workers\t"
              "active_line_index_workers\tactive_parse_workers\tactive_compress_workers",
              Names(kDepthColumns),
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
    AddValues(line, kDepthColumns, row.depths);
    for (const StageRatios& ratios : row.ratios) {
      line.Add(ratios.busy).Add(ratios.empty).Add(ratios.full);
    }
    line.Add(row.write_busy_ratio);
    for (const std::uint64_t delta : row.items_out_deltas) line.Add(delta);
    line.Add(std::string_view(row.action)).Add(std::string_view(row.reason));
  });
}

}  // namespace boardmill::pipeline
