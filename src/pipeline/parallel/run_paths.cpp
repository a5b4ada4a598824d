#include "pipeline/parallel/run_paths.h"

#include <string>

#include "run/free_space.h"

namespace boardmill::pipeline {

namespace {

std::filesystem::path PathOrDefault(const std::filesystem::path& path,
                                    const std::filesystem::path& fallback) {
  return path.empty() ? fallback : path;
}

}  // namespace

RunPaths ResolveRunPaths(const ConversionOptions& options) {
  RunPaths paths;
  paths.scratch =
      PathOrDefault(options.scratch_directory, options.output_directory / kScratchDirectoryName);
  paths.manifest =
      PathOrDefault(options.manifest_path, options.output_directory / kManifestFileName);
  paths.reject_log =
      PathOrDefault(options.reject_log_path, options.output_directory / kRejectLogFileName);
  paths.fragments_root = paths.scratch / "fragments";
  return paths;
}

util::Result<void> CheckScratchFreeSpace(const ConversionOptions& options, const RunPaths& paths) {
  std::string message;
  if (run::HasEnoughFreeSpace(paths.scratch, options.min_free_space_bytes, message)) return {};
  return util::Fail(message);
}

}  // namespace boardmill::pipeline
