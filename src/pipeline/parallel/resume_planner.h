#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/file_processing_summary.h"
#include "pipeline/parallel/run_paths.h"
#include "util/result.h"

namespace boardmill::pipeline {

// What a parallel run takes over from earlier runs, and what it has left to convert.
struct ResumePlan {
  std::vector<FileGroup> kept_groups;  // complete fragments of earlier runs, in file order
  // By file index: every file's stamp now, and a kept file's summary (or only its index and
  // path when it is skipped).
  std::vector<FileProcessingSummary> summaries;
  std::vector<std::uint64_t> recovered;  // kept files the manifest does not record
  std::uint64_t skipped_files = 0;       // kept files the manifest records
  std::uint64_t redone_files = 0;        // recorded files that changed since: converted again
  std::vector<std::uint64_t> pending;    // files no kept fragment holds, ascending
};

// With --resume: the files the manifest records, checked against today's listing, and the
// fragments earlier runs completed. A file a fragment holds is not converted again: it is skipped
// when the manifest records it, and recovered (its record written by this run, from the fragment)
// when a kill took the record. A file whose size or modification time differs from the stamp
// its record holds (or whose record holds none) changed since: the fragment that holds it is
// removed and its files are pending again. Without --resume, earlier fragments are removed and
// every file is pending.
class ResumePlanner {
 public:
  // `input_directory` is the one the files were listed for.
  ResumePlanner(const RunPaths& paths, const std::filesystem::path& input_directory, bool resume)
      : paths_(paths), input_directory_(input_directory), resume_(resume) {}

  util::Result<ResumePlan> Plan(const std::vector<std::filesystem::path>& files) const;

 private:
  util::Result<void> KeepEarlierFragments(const std::vector<std::filesystem::path>& files,
                                          ResumePlan& plan) const;

  const RunPaths& paths_;
  const std::filesystem::path& input_directory_;
  const bool resume_;
};

}  // namespace boardmill::pipeline
