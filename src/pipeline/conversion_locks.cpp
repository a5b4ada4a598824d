#include "pipeline/conversion_locks.h"

#include <filesystem>
#include <string_view>

#include "io/create_directories.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

// The defaults of the scratch directory, manifest and reject log (an empty option) lie inside
// the output directory, whose lock guards them.
bool NeedsOwnLock(const io::RunLocks& locks, const fs::path& path) {
  return !path.empty() && locks.IsOutsideOutput(path);
}

util::Result<void> LockScratchDirectory(io::RunLocks& locks, const fs::path& scratch) {
  if (!NeedsOwnLock(locks, scratch)) return {};
  util::Result<void> created =
      io::CreateDirectories(scratch, "Failed to create scratch directory: ");
  if (!created) return created;
  return locks.LockDirectory(scratch, "scratch directory");
}

util::Result<void> LockReportFile(io::RunLocks& locks, const fs::path& file, std::string_view role,
                                  std::string_view directory_failure) {
  if (!NeedsOwnLock(locks, file)) return {};
  if (file.has_parent_path()) {
    util::Result<void> created = io::CreateDirectories(file.parent_path(), directory_failure);
    if (!created) return created;
  }
  return locks.LockFile(file, role);
}

}  // namespace

util::Result<io::RunLocks> AcquireRunLocks(const ConversionOptions& options, ExecutionMode mode) {
  io::RunLocks locks;
  util::Result<void> locked = locks.LockOutputDirectory(options.output_directory);
  if (locked && mode == ExecutionMode::kParallel) {
    locked = LockScratchDirectory(locks, options.scratch_directory);
  }
  if (locked && mode == ExecutionMode::kParallel) {
    locked = LockReportFile(locks, options.manifest_path, "manifest",
                            "Failed to create manifest directory: ");
  }
  if (locked && mode != ExecutionMode::kSequential) {
    locked = LockReportFile(locks, options.reject_log_path, "reject log",
                            "Failed to create reject-log directory: ");
  }
  if (!locked) return std::move(locked).TakeError();
  return locks;
}

}  // namespace boardmill::pipeline
