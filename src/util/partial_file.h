#pragma once

#include <cstdio>
#include <filesystem>

#include "util/unique_file.h"

namespace boardmill::util {

inline constexpr char kPartialSuffix[] = ".partial";

// A file written under "<path>.partial" and renamed to `path` once every byte has reached it, so
// that a file under its own name is always whole: a reader finds the earlier file, the whole new
// one or none, and a run that dies part way leaves only the side file.
class PartialFile {
 public:
  enum class Commit { kCommitted, kNotWritten, kNotRenamed };

  // Opens "<path>.partial" for writing (`mode` as for fopen); false when it cannot.
  bool Open(const std::filesystem::path& path, const char* mode = "wb");

  std::FILE* get() const { return file_.get(); }
  const std::filesystem::path& partial_path() const { return partial_; }

  // Flushes, syncs to disk and closes the side file, then renames it to the path; a file system
  // may report a lost write only at the sync or the close (kNotWritten). The side file stays
  // when this fails. The rename itself is durable only once the caller syncs the directory.
  Commit Finish();

 private:
  std::filesystem::path path_;
  std::filesystem::path partial_;
  UniqueFile file_;
};

}  // namespace boardmill::util
