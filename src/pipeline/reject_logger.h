#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::pipeline {

// Appends one reject row to `out`: the input path, the line number, the error and the line's
// text, tab-separated, each free-text field sanitised and cut to its first 1,024 bytes, ended by
// a newline.
void AppendRejectRow(std::string& out, const std::filesystem::path& input_path,
                     std::uint64_t line_number, std::string_view error, std::string_view text);

// The reject log, rejects.tsv: one row per input line that could not be encoded, so a user can
// find and fix those lines. One logger serves every worker of a run; each call holds the
// logger's mutex for its whole duration, so rows from different threads never interleave. Rows
// are buffered and reach the disk when the buffer fills and at Close.
class RejectLogger {
 public:
  explicit RejectLogger(std::filesystem::path path);
  RejectLogger(const RejectLogger&) = delete;
  RejectLogger& operator=(const RejectLogger&) = delete;

  // Creates (or truncates) the file and writes the header; the value is the row count, 0 after
  // a fresh open. Opening an open logger changes nothing.
  util::Result<std::uint64_t> Open();
  // Writes one row; the value is the row count after it.
  util::Result<std::uint64_t> Append(const std::filesystem::path& input_path,
                                     std::uint64_t line_number, std::string_view error,
                                     std::string_view text);
  // Copies the `rows` rows of a file written with AppendRejectRow to the end of the log.
  util::Result<std::uint64_t> AppendRowsOf(const std::filesystem::path& rows_file,
                                           std::uint64_t rows);
  // Flushes, closes and syncs the log to disk; the value is the row count, which EntryCount keeps
  // reporting.
  util::Result<std::uint64_t> Close();
  std::uint64_t EntryCount() const;

 private:
  // Hands text to the stream; false when it failed.
  bool Put(std::string_view text);

  const std::filesystem::path path_;
  mutable std::mutex mutex_;
  util::UniqueFile stream_;
  std::string row_;  // reused for every row, so logging a line allocates nothing once warm
  std::uint64_t entry_count_ = 0;
  bool is_open_ = false;
};

}  // namespace boardmill::pipeline
