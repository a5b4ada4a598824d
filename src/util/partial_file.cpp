#include "util/partial_file.h"

#include <system_error>

#include "util/file_sync.h"
#include "util/output_file.h"

namespace boardmill::util {

bool PartialFile::Open(const std::filesystem::path& path, const char* mode) {
  path_ = path;
  partial_ = path;
  partial_ += kPartialSuffix;
  file_ = CreateOutputFile(partial_, mode);
  return file_ != nullptr;
}

PartialFile::Commit PartialFile::Finish() {
  // On disk before the rename: the file under its own name vouches for its bytes.
  const bool flushed = SyncFile(file_.get(), partial_).ok();
  const bool closed = std::fclose(file_.release()) == 0;
  if (!flushed || !closed) return Commit::kNotWritten;
  std::error_code error;
  std::filesystem::rename(partial_, path_, error);
  return error ? Commit::kNotRenamed : Commit::kCommitted;
}

}  // namespace boardmill::util
