#pragma once

#include <filesystem>

#include "pipeline/conversion_options.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The default names, in the output directory, of what a run writes besides the shards.
inline constexpr char kScratchDirectoryName[] = "_scratch";
inline constexpr char kManifestFileName[] = "run-manifest.tsv";
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
