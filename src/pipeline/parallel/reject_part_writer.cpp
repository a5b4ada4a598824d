#include "pipeline/parallel/reject_part_writer.h"

#include <cstdio>
#include <system_error>

#include "pipeline/parallel/fragment_file.h"
#include "pipeline/reject_logger.h"

namespace boardmill::pipeline {

util::Result<void> RejectPartWriter::Open(const std::filesystem::path& path) {
  path_ = path;
  if (!file_.Open(path)) {
    return util::Fail("Failed to open reject rows: " + file_.partial_path().string());
  }
  rows_ = 0;
  return {};
}

util::Result<void> RejectPartWriter::Append(const std::filesystem::path& input_path,
                                            std::uint64_t line_number, std::string_view error,
                                            std::string_view text) {
  row_.clear();
  AppendRejectRow(row_, input_path, line_number, error, text);
  if (std::fwrite(row_.data(), 1, row_.size(), file_.get()) != row_.size()) return WriteFailure();
  ++rows_;
  return {};
}

util::Result<void> RejectPartWriter::Commit() {
  const util::PartialFile::Commit committed = file_.Finish();
  if (committed == util::PartialFile::Commit::kNotWritten) return WriteFailure();
  if (committed == util::PartialFile::Commit::kNotRenamed) {
    return util::Fail("Failed to commit reject rows: " + path_.string());
  }
  return {};
}

util::Error RejectPartWriter::WriteFailure() const {
  return util::Fail("Failed to write reject rows: " + file_.partial_path().string());
}

}  // namespace boardmill::pipeline
