#include "pipeline/reject_logger.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <system_error>
#include <utility>

#include "pipeline/sanitize_field.h"
#include "util/file_sync.h"
#include "util/output_file.h"

namespace boardmill::pipeline {

namespace {

constexpr std::size_t kCopyChunkBytes = 64 * 1024;
constexpr std::string_view kHeader = "input_path\tline_number\terror\tfen\n";

// The most bytes of one free-text field a row keeps: enough to recognise any position, while a
// line of junk cannot make the log as large as the input.
constexpr std::size_t kMaxFieldBytes = 1024;

void AppendField(std::string& out, std::string_view text) {
  AppendSanitizedField(out, text.substr(0, std::min(text.size(), kMaxFieldBytes)));
}

void AppendDecimal(std::string& out, std::uint64_t value) {
  char digits[20];
  const std::to_chars_result end = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end.ptr);
}

}  // namespace

void AppendRejectRow(std::string& out, const std::filesystem::path& input_path,
                     std::uint64_t line_number, std::string_view error, std::string_view text) {
  // On this platform the native form is the narrow text, and using it avoids a copy.
  AppendField(out, input_path.native());
  out += '\t';
  AppendDecimal(out, line_number);
  out += '\t';
  AppendField(out, error);
  out += '\t';
  AppendField(out, text);
  out += '\n';
}

bool RejectLogger::Put(std::string_view text) {
  // A stream that failed once stays failed, so that no row lands after a lost one.
  return std::ferror(stream_.get()) == 0 &&
         std::fwrite(text.data(), 1, text.size(), stream_.get()) == text.size();
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
  stream_ = util::CreateOutputFile(path_);
  if (!stream_) return util::Fail("Failed to open reject log: " + path_.string());
  if (!Put(kHeader)) return util::Fail("Failed to initialize reject log: " + path_.string());

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
  if (!Put(row_)) return util::Fail("Failed to write reject log entry: " + path_.string());
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
  char chunk[kCopyChunkBytes];
  bool copied = true;
  while (copied && source.read(chunk, sizeof chunk).gcount() > 0) {
    copied = Put({chunk, static_cast<std::size_t>(source.gcount())});
  }
  if (!copied || source.bad())
    return util::Fail("Failed to write reject log entry: " + path_.string());
  entry_count_ += rows;
  return entry_count_;
}

util::Result<std::uint64_t> RejectLogger::Close() {
  const std::lock_guard lock(mutex_);
  if (!is_open_) return entry_count_;
  if (std::fflush(stream_.get()) != 0 || std::ferror(stream_.get()) != 0) {
    return util::Fail("Failed to flush reject log: " + path_.string());
  }
  util::Result<void> synced = util::SyncFile(stream_.get(), path_);
  stream_.reset();  // the rows were flushed above
  is_open_ = false;
  if (!synced) return std::move(synced).TakeError();
  return entry_count_;
}

std::uint64_t RejectLogger::EntryCount() const {
  const std::lock_guard lock(mutex_);
  return entry_count_;
}

}  // namespace boardmill::pipeline
