#include "util/whole_file.h"

#include <cstdio>
#include <system_error>

#include "util/unique_file.h"

namespace boardmill::util {

namespace {

namespace fs = std::filesystem;

constexpr char kPartialSuffix[] = ".partial";

// Writes all of `text` and closes the file; false when any byte did not reach the file.
bool WriteAndClose(UniqueFile file, std::string_view text) {
  const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  const bool flushed = std::fflush(file.get()) == 0;
  return std::fclose(file.release()) == 0 && written && flushed;
}

}  // namespace

WholeFileWrite WriteWholeFile(const fs::path& path, std::string_view text) {
  fs::path partial = path;
  partial += kPartialSuffix;
  UniqueFile file(std::fopen(partial.c_str(), "w"));
  if (!file) return WholeFileWrite::kNotOpened;
  std::error_code error;
  if (WriteAndClose(std::move(file), text)) {
    fs::rename(partial, path, error);
    if (!error) return WholeFileWrite::kWritten;
  }
  fs::remove(partial, error);
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
