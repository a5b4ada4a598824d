#include "pipeline/reject_logger.h"

#include <charconv>
#include <system_error>
#include <utility>

#include "pipeline/sanitize_field.h"
#include "util/file_sync.h"

namespace boardmill::pipeline {

namespace {

constexpr std::string_view kHeader = "input_path\tline_number\terror\tfen\n";

void AppendDecimal(std::string& out, std::uint64_t value) {
  char digits[20];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end.ptr);
}

}  // namespace

void AppendRejectRow(std::string& out, const std::filesystem::path& input_path,
                     std::uint64_t line_number, std::string_view error, std::string_view text) {
  // On this platform the native form is the narrow text, and using it avoids a copy.
  AppendSanitizedField(out, input_path.native());
  out += '\t';
  AppendDecimal(out, line_number);
  out += '\t';
  AppendSanitizedField(out, error);
  out += '\t';
  AppendSanitizedField(out, text);
  out += '\n';
}

RejectLogger::RejectLogger(std::filesystem::path path) : path_(std::move(path)) {}

util::Result<std::uint64_t> RejectLogger::Open() {
  const std::lock_guard lock(mutex_);
  if (is_open_) return entry_count_;

  const std::filesystem::path parent = path_.parent_path();
  if (!parent.empty()) {
    std::error_code error;
    std::filesystem::create_directories(parent, error);
    if (error) return util::Fail("Failed to create reject-log directory: " + error.message());
  }
  stream_ = std::ofstream(path_, std::ios::out | std::ios::trunc);
  if (!stream_.is_open()) return util::Fail("Failed to open reject log: " + path_.string());
  stream_.write(kHeader.data(), static_cast<std::streamsize>(kHeader.size()));
  if (!stream_) return util::Fail("Failed to initialize reject log: " + path_.string());

  is_open_ = true;
  entry_count_ = 0;
  return entry_count_;
}

util::Result<std::uint64_t> RejectLogger::Append(const std::filesystem::path& input_path,
                                                 std::uint64_t line_number, std::string_view error,
                                                 std::string_view text) {
  const std::lock_guard lock(mutex_);
  if (!is_open_) return util::Fail("Reject log is not open.");

  row_.clear();
  AppendRejectRow(row_, input_path, line_number, error, text);
  stream_.write(row_.data(), static_cast<std::streamsize>(row_.size()));
  if (!stream_) return util::Fail("Failed to write reject log entry: " + path_.string());
  return ++entry_count_;
}

util::Result<std::uint64_t> RejectLogger::AppendRowsOf(const std::filesystem::path& rows_file,
                                                       std::uint64_t rows) {
  const std::lock_guard lock(mutex_);
  if (!is_open_) return util::Fail("Reject log is not open.");
  // Copying an empty file would mark the log's stream as failed.
  if (rows == 0) return entry_count_;
  std::ifstream source(rows_file, std::ios::binary);
  if (!source) return util::Fail("Failed to read reject rows: " + rows_file.string());
  stream_ << source.rdbuf();
  if (!stream_) return util::Fail("Failed to write reject log entry: " + path_.string());
  entry_count_ += rows;
  return entry_count_;
}

util::Result<std::uint64_t> RejectLogger::Close() {
  const std::lock_guard lock(mutex_);
  if (!is_open_) return entry_count_;
  stream_.flush();
  if (!stream_) return util::Fail("Failed to flush reject log: " + path_.string());
  stream_.close();  // a failed close only marks the stream; the rows were flushed above
  is_open_ = false;
  util::Result<void> synced = util::SyncFile(path_);
  if (!synced) return std::move(synced).TakeError();
  return entry_count_;
}

std::uint64_t RejectLogger::EntryCount() const {
  const std::lock_guard lock(mutex_);
  return entry_count_;
}

}  // namespace boardmill::pipeline
