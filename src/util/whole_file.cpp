#include "util/whole_file.h"

#include <cstdio>
#include <system_error>

#include "util/partial_file.h"

namespace boardmill::util {

namespace {

namespace fs = std::filesystem;

}  // namespace

WholeFileWrite WriteWholeFile(const fs::path& path, std::string_view text) {
  PartialFile file;
  if (!file.Open(path, "w")) return WholeFileWrite::kNotOpened;
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  if (written && file.Finish() == PartialFile::Commit::kCommitted) return WholeFileWrite::kWritten;
  std::error_code error;
  fs::remove(file.partial_path(), error);
  return WholeFileWrite::kFailed;
}

bool RemoveFileIfPresent(const fs::path& path) {
  std::error_code error;
  // Only a file that is there is removed: a read-only file system refuses even the removal of a
  // missing file.
  if (fs::symlink_status(path, error).type() == fs::file_type::not_found) return true;
  return !error && fs::remove(path, error);
}

}  // namespace boardmill::util
