#include "pipeline/parallel/run_manifest.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "pipeline/sanitize_field.h"
#include "util/file_sync.h"
#include "util/number_format.h"
#include "util/output_file.h"

namespace boardmill::pipeline {

namespace {

constexpr std::string_view kHeader = "record_type\tphase\ttimestamp\tpayload\n";
constexpr std::string_view kCompletedFilePrefix = "file\tcompleted\t";
constexpr std::string_view kRunRecordPrefix = "run\t";
constexpr std::string_view kRunFinishPrefix = "run\tfinish\t";

// One tab-separated record: type, phase and timestamp, then the payload fields.
class RecordText {
 public:
  RecordText(std::string_view type, std::string_view phase) : text_(type) {
    Add(phase);
    Add(FormatUtcTimestamp());
  }

  RecordText& Add(std::string_view field) {
    text_ += '\t';
    text_ += field;
    return *this;
  }
  RecordText& Add(std::uint64_t value) { return Add(std::to_string(value)); }
  RecordText& Add(std::int32_t value) { return Add(std::to_string(value)); }
  RecordText& Add(std::int64_t value) { return Add(std::to_string(value)); }
  RecordText& Add(double value) { return Add(util::FormatGeneral(value)); }
  RecordText& AddFreeText(std::string_view text) {
    text_ += '\t';
    AppendSanitizedField(text_, text);
    return *this;
  }

  // Ends the record with its newline; the builder is spent afterwards.
  std::string Line() {
    text_ += '\n';
    return std::move(text_);
  }

 private:
  std::string text_;
};

// A one-field payload of semicolon-separated key=value pairs. Values are not escaped; free text
// only loses its tabs and line breaks so that the record stays one field on one line.
class KeyValueText {
 public:
  KeyValueText& Add(std::string_view key, std::string_view value) {
    if (!text_.empty()) text_ += ';';
    text_ += key;
    text_ += '=';
    text_ += value;
    return *this;
  }
  KeyValueText& Add(std::string_view key, std::uint64_t value) {
    return Add(key, std::to_string(value));
  }
  KeyValueText& Add(std::string_view key, std::int32_t value) {
    return Add(key, std::to_string(value));
  }
  KeyValueText& Add(std::string_view key, double value) {
    return Add(key, util::FormatGeneral(value));
  }
  KeyValueText& AddFlag(std::string_view key, bool value) { return Add(key, value ? "1" : "0"); }
  KeyValueText& AddFreeText(std::string_view key, std::string_view text) {
    return Add(key, SanitizeField(text));
  }

  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

std::string RunStartRecord(const ConversionOptions& options) {
  KeyValueText payload;
  payload.Add("mode", ExecutionModeName(options.execution_mode))
      .AddFreeText("input_directory", options.input_directory.string())
      .AddFreeText("output_directory", options.output_directory.string())
      .AddFreeText("scratch_directory", options.scratch_directory.string())
      .Add("output_shard_count", options.output_shard_count)
      .Add("compression_level", options.compression_level)
      .Add("records_per_flush", options.records_per_flush)
      .Add("line_batch_size", options.line_batch_size)
      .AddFlag("resume", options.resume)
      .AddFlag("enable_fast_encoder", options.enable_fast_encoder)
      .AddFlag("enable_autotune", options.enable_autotune);
  return RecordText("run", "start").Add(payload.Text()).Line();
}

// The record keeps its fields whatever the reading; the lenient count is the run's report's.
constexpr bool InFileRecord(const TotalsField& field) {
  return field.group != TotalsGroup::kReading;
}

std::string FileRecord(const FileProcessingSummary& summary) {
  RecordText record("file", summary.skipped ? "skipped" : "completed");
  record.Add(summary.file_index).AddFreeText(summary.input_path.string());
  for (const TotalsField& field : kTotalsFields) {
    if (!InFileRecord(field)) continue;
    UseField(field, summary, [&record](auto value) { record.Add(value); });
  }
  return record.Add(summary.line_batch_size)
      .Add(summary.records_per_flush)
      .Add(summary.compression_level)
      .Add(summary.stamp.size)
      .Add(summary.stamp.modified_ns)
      .Line();
}

std::string TuningRecord(const TuningDecision& decision) {
  return RecordText("tune", "decision")
      .Add(decision.elapsed_seconds)
      .Add(decision.active_workers)
      .Add(decision.line_batch_size)
      .Add(decision.records_per_flush)
      .Add(decision.compression_level)
      .Add(decision.throughput)
      .AddFreeText(decision.reason)
      .Line();
}

std::string RunFinishRecord(const ConversionSummary& summary, std::string_view status) {
  KeyValueText payload;
  const auto add_field = [&payload](const TotalsField& field, auto value) {
    payload.Add(field.key, value);
  };
  payload.AddFreeText("status", status)
      .Add("completed_input_files", summary.completed_input_files)
      .Add("skipped_input_files", summary.skipped_input_files);
  ForEachField(TotalsGroup::kLineCounts, summary, add_field);
  ForEachField(TotalsGroup::kVolumes, summary, add_field);
  payload.Add("elapsed_seconds", summary.elapsed_seconds);
  ForEachField(TotalsGroup::kSeconds, summary, add_field);
  payload.Add("merge_seconds", summary.merge_seconds);
  return RecordText("run", "finish").Add(payload.Text()).Line();
}

// Field `number` (0-based) of a tab-separated line; nothing when the line has fewer fields.
std::optional<std::string_view> FieldAt(std::string_view line, int number) {
  std::string_view::size_type begin = 0;
  for (int i = 0; i < number; ++i) {
    const std::string_view::size_type tab = line.find('\t', begin);
    if (tab == std::string_view::npos) return std::nullopt;
    begin = tab + 1;
  }
  const std::string_view::size_type end = line.find('\t', begin);
  return line.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Accepts leading white space (as strtoull does) followed by decimal digits and nothing else.
// Signs, trailing characters and values beyond 64 bits are refused: such a record was not
// written by this program and guessing an index could skip a file that was never converted.
bool ParseFileIndex(std::string_view field, std::uint64_t& index) {
  while (!field.empty() && IsCSpace(field.front())) field.remove_prefix(1);
  const char* const end = field.data() + field.size();
  const std::from_chars_result parsed = std::from_chars(field.data(), end, index);
  return parsed.ec == std::errc{} && parsed.ptr == end;
}

// Cuts off a last record that lacks its newline: one torn by a run that was killed or ran out of
// space while appending it. The reader never trusts such a record, but appending the next run's
// records to it would glue them onto its line and turn it into a garbled record that every later
// resume refuses. A missing file is left alone; false when the file cannot be read or cut.
bool TrimTornLastRecord(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return !std::filesystem::exists(path);
  in.seekg(0, std::ios::end);
  std::streamoff kept = in.tellg();
  const std::streamoff size = kept;
  constexpr std::streamoff kChunk = 4096;
  char chunk[kChunk];
  while (kept > 0) {
    const std::streamoff length = std::min(kept, kChunk);
    in.seekg(kept - length);
    if (!in.read(chunk, length)) return false;
    const std::string_view text(chunk, static_cast<std::size_t>(length));
    const std::string_view::size_type newline = text.rfind('\n');
    if (newline != std::string_view::npos) {
      kept -= length - static_cast<std::streamoff>(newline) - 1;
      break;
    }
    kept -= length;
  }
  if (kept == size) return true;
  std::error_code error;
  std::filesystem::resize_file(path, static_cast<std::uintmax_t>(kept), error);
  return !error;
}

}  // namespace

RunManifest::RunManifest(std::filesystem::path path) : path_(std::move(path)) {}

util::Result<void> RunManifest::Open(const ConversionOptions& options, bool resume) {
  const std::lock_guard lock(mutex_);
  if (is_open_) return {};

  const std::filesystem::path parent = path_.parent_path();
  if (!parent.empty()) {
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    if (error) return util::Fail("Failed to create manifest directory: " + error.message());
  }
  // Opened before the torn record is trimmed, so that the trim only ever shortens a regular
  // file of this run, never one a link points to.
  stream_ = resume ? util::OpenOutputForAppend(path_) : util::CreateOutputFile(path_);
  if (!stream_ || (resume && !TrimTornLastRecord(path_))) {
    return util::Fail("Failed to open manifest: " + path_.string());
  }
  if (!resume) Put(kHeader);
  Put(RunStartRecord(options));
  // Out at once: until the start record is on disk, a resumed run killed early would leave the
  // earlier run's finish record last, and the manifest would pass for that of a finished run.
  if (!Flush()) return util::Fail("Failed to write manifest header: " + path_.string());
  is_open_ = true;
  return {};
}

bool RunManifest::Put(std::string_view text) {
  // A stream that failed once stays failed, so that no record lands after a lost one.
  return std::ferror(stream_.get()) == 0 &&
         std::fwrite(text.data(), 1, text.size(), stream_.get()) == text.size();
}

bool RunManifest::Flush() { return std::fflush(stream_.get()) == 0 && !std::ferror(stream_.get()); }

util::Result<void> RunManifest::WriteRecord(const std::string& record,
                                            std::string_view failure_prefix) {
  if (!Put(record)) return util::Fail(std::string(failure_prefix) + path_.string());
  return {};
}

util::Result<void> RunManifest::AppendFileRecord(const FileProcessingSummary& summary) {
  return AppendFileRecords({&summary, 1});
}

util::Result<void> RunManifest::AppendFileRecords(
    std::span<const FileProcessingSummary> summaries) {
  const std::lock_guard lock(mutex_);
  if (!is_open_) return util::Fail("Manifest is not open.");
  for (const FileProcessingSummary& summary : summaries) {
    util::Result<void> written =
        WriteRecord(FileRecord(summary), "Failed to append file record to manifest: ");
    if (!written) return written;
  }
  // Completed-file records are what lets a killed run resume without converting the files
  // again, so they go to the disk at once instead of waiting in the buffer: a run resumed after
  // a power cut finds every group whose fragment it may trust.
  if (!Flush()) return util::Fail("Failed to append file record to manifest: " + path_.string());
  return util::SyncFileData(path_);
}

util::Result<void> RunManifest::AppendTuningDecision(const TuningDecision& decision) {
  const std::lock_guard lock(mutex_);
  if (!is_open_) return util::Fail("Manifest is not open.");
  return WriteRecord(TuningRecord(decision), "Failed to append tuning decision: ");
}

util::Result<void> RunManifest::WriteFinish(const ConversionSummary& summary,
                                            std::string_view status) {
  const std::lock_guard lock(mutex_);
  if (!is_open_) return util::Fail("Manifest is not open.");
  util::Result<void> written =
      WriteRecord(RunFinishRecord(summary, status), "Failed to write manifest footer: ");
  if (!written) return written;
  if (!Flush()) return util::Fail("Failed to flush manifest: " + path_.string());
  stream_.reset();  // the records were flushed above
  is_open_ = false;
  return {};
}

namespace {

// Hands each completed-file record of the manifest at `path` to `take(index, line)`, in file
// order. A missing manifest has none.
template <typename Take>
util::Result<void> ForEachCompletedRecord(const std::filesystem::path& path, Take&& take) {
  std::ifstream in(path);
  if (!in.is_open()) return {};  // resuming without a manifest converts every file

  std::uint64_t line_number = 0;
  for (std::string line; std::getline(in, line);) {
    ++line_number;
    // A last line without its newline is a record torn by a killed run: it may end inside the
    // index field, so it is not trusted.
    if (in.eof()) break;
    if (!line.starts_with(kCompletedFilePrefix)) continue;
    // Field 3 is the file index, field 4 the input path.
    const std::optional<std::string_view> index_field = FieldAt(line, 3);
    if (!index_field || index_field->empty()) continue;
    std::uint64_t index = 0;
    if (!ParseFileIndex(*index_field, index)) {
      return util::Fail("Manifest " + path.string() + " line " + std::to_string(line_number) +
                        " has an invalid file index: " + SanitizeField(*index_field) + ".");
    }
    take(index, std::string_view(line));
  }
  return {};
}

// The fields that follow the index, the path, the totals and the three knobs.
constexpr int kStampSizeField =
    5 + static_cast<int>(std::ranges::count_if(kTotalsFields, InFileRecord)) + 3;
constexpr int kStampTimeField = kStampSizeField + 1;

// A stamp field as this program writes it; anything else leaves the stamp unknown.
template <typename Number>
bool ParseStampField(std::optional<std::string_view> field, Number& value) {
  if (!field || field->empty()) return false;
  const char* const end = field->data() + field->size();
  const std::from_chars_result parsed = std::from_chars(field->data(), end, value);
  return parsed.ec == std::errc{} && parsed.ptr == end;
}

}  // namespace

util::Result<std::map<std::uint64_t, std::string>> LoadCompletedFiles(
    const std::filesystem::path& path) {
  std::map<std::uint64_t, std::string> completed;
  util::Result<void> read =
      ForEachCompletedRecord(path, [&completed](std::uint64_t index, std::string_view line) {
        const std::string_view path_field = FieldAt(line, 4).value_or(std::string_view{});
        completed[index] = std::string(path_field);
      });
  if (!read) return std::move(read).TakeError();
  return completed;
}

util::Result<std::map<std::uint64_t, InputStamp>> LoadCompletedFileStamps(
    const std::filesystem::path& path) {
  std::map<std::uint64_t, InputStamp> stamps;
  util::Result<void> read =
      ForEachCompletedRecord(path, [&stamps](std::uint64_t index, std::string_view line) {
        InputStamp stamp;
        if (ParseStampField(FieldAt(line, kStampSizeField), stamp.size) &&
            ParseStampField(FieldAt(line, kStampTimeField), stamp.modified_ns)) {
          stamps[index] = stamp;
        } else {
          stamps.erase(index);
        }
      });
  if (!read) return std::move(read).TakeError();
  return stamps;
}

bool LastRecordedRunFinished(const std::filesystem::path& path) {
  std::ifstream in(path);
  bool finished = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(kRunRecordPrefix)) finished = line.starts_with(kRunFinishPrefix);
  }
  return finished;
}

util::Result<std::set<std::uint64_t>> LoadCompletedFileIndices(const std::filesystem::path& path) {
  util::Result<std::map<std::uint64_t, std::string>> completed = LoadCompletedFiles(path);
  if (!completed) return std::move(completed).TakeError();
  std::set<std::uint64_t> indices;
  for (const auto& [index, name] : *completed) indices.insert(indices.end(), index);
  return indices;
}

std::string FormatUtcTimestamp() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const std::time_t seconds = static_cast<std::time_t>(
      std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count());
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return std::string(text, length);
}

}  // namespace boardmill::pipeline
