#pragma once

#include <filesystem>

#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The default name of the reject log in the output directory (the scratch directory and the
// manifest are named in run/unfinished_run.h, which readers of a finished directory share).
inline constexpr char kRejectLogFileName[] = "rejects.tsv";

// Where a parallel run keeps what it writes besides the shards.
struct RunPaths {
  std::filesystem::path scratch;  // --scratch-dir, else _scratch in the output directory
  std::filesystem::path manifest;
  std::filesystem::path reject_log;
  std::filesystem::path fragments_root;  // in the scratch directory
};

RunPaths ResolveRunPaths(const ConversionOptions& options);

// Refuses a run, or its next group, when the scratch directory's disk has less free space than
// --min-free-space.
util::Result<void> CheckScratchFreeSpace(const ConversionOptions& options, const RunPaths& paths);

}  // namespace boardmill::pipeline
