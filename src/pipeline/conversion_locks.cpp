#include "pipeline/conversion_locks.h"

#include <vector>

#include "run/acquire_run_locks.h"

namespace boardmill::pipeline {

namespace {

using run::LockedPlace;

// The places a convert run in `mode` writes besides its output directory, in locking order. An
// empty option (the default) lies inside the output directory, whose lock guards it.
std::vector<LockedPlace> ConversionPlaces(const ConversionOptions& options, ExecutionMode mode) {
  std::vector<LockedPlace> places;
  if (mode == ExecutionMode::kParallel) {
    places.push_back({LockedPlace::Kind::kDirectory, options.scratch_directory, "scratch directory",
                      "Failed to create scratch directory: "});
    places.push_back({LockedPlace::Kind::kFile, options.manifest_path, "manifest",
                      "Failed to create manifest directory: "});
  }
  if (mode != ExecutionMode::kSequential) {
    places.push_back({LockedPlace::Kind::kFile, options.reject_log_path, "reject log",
                      "Failed to create reject-log directory: "});
  }
  return places;
}

}  // namespace

util::Result<io::RunLocks> AcquireRunLocks(const ConversionOptions& options, ExecutionMode mode) {
  return run::AcquireRunLocks(options.output_directory, ConversionPlaces(options, mode));
}

}  // namespace boardmill::pipeline
