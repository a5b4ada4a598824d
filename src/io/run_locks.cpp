#include "io/run_locks.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "io/create_directories.h"

namespace boardmill::io {

namespace fs = std::filesystem;

namespace {

// The path with the links and dot segments of its existing part resolved, so that two spellings
// of one place compare equal; the path as given when even that fails.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(path, error);
  if (error) return path;
  if (!resolved.has_filename()) resolved = resolved.parent_path();
  return resolved;
}

bool IsWithin(const fs::path& path, const fs::path& directory) {
  const fs::path inner = Resolved(path);
  const fs::path outer = Resolved(directory);
  return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
}

bool IsNonRegularFile(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  return !error && fs::exists(status) && !fs::is_regular_file(status);
}

bool IsInExistingDirectory(const fs::path& file) {
  std::error_code error;
  return fs::is_directory(file.has_parent_path() ? file.parent_path() : fs::path("."), error);
}

std::string RefusalMessage(std::string_view verb, std::string_view role, const fs::path& path) {
  return "Another run is " + std::string(verb) + " the " + std::string(role) + ": " + path.string();
}

std::string FailureMessage(std::string_view role, const fs::path& path,
                           const std::error_code& error) {
  return "Failed to lock the " + std::string(role) + " " + path.string() + ": " + error.message();
}

}  // namespace

util::Result<void> RunLocks::LockOutputDirectory(const fs::path& directory) {
  util::Result<void> created = CreateDirectories(directory, "Failed to create output directory: ");
  if (!created) return created;
  output_directory_ = directory;
  return LockDirectory(directory, "output directory");
}

bool RunLocks::IsOutsideOutput(const fs::path& path) const {
  return !IsWithin(path, output_directory_);
}

util::Result<void> RunLocks::LockDirectory(const fs::path& directory, std::string_view role) {
  return Hold(directory / kLockFileName, directory, role);
}

util::Result<void> RunLocks::LockFile(const fs::path& file, std::string_view role) {
  // Without its directory the file cannot be written by a command that has not created that
  // directory already, and its write fails and says so.
  if (IsNonRegularFile(file) || !IsInExistingDirectory(file)) return {};
  fs::path lock_file = file;
  lock_file += ".lock";
  return Hold(lock_file, file, role);
}

util::Result<void> RunLocks::Hold(const fs::path& lock_file, const fs::path& guarded,
                                  std::string_view role) {
  // flock locks belong to an open file, so a second open of a lock file this command already
  // holds (a manifest and a reject log given the same path) would refuse the command itself.
  const fs::path key = Resolved(lock_file);
  if (std::find(lock_files_.begin(), lock_files_.end(), key) != lock_files_.end()) return {};
  LockAttempt attempt = TryLockFile(lock_file, LockKind::kExclusive, true);
  switch (attempt.outcome) {
    case LockOutcome::kHeld:
      lock_files_.push_back(key);
      locks_.push_back(std::move(attempt.lock));
      return {};
    case LockOutcome::kBusy:
      return util::Fail(RefusalMessage("using", role, guarded));
    case LockOutcome::kMissing:
    case LockOutcome::kFailed:
      break;
  }
  // Nothing can be written on a read-only file system, so no run there needs excluding; the
  // command goes on to fail at its first write, naming the place it could not write.
  if (attempt.error == std::errc::read_only_file_system) return {};
  return util::Fail(FailureMessage(role, guarded, attempt.error));
}

util::Result<FileLock> LockDirectoryForReading(const fs::path& directory, std::string_view role) {
  LockAttempt attempt = TryLockFile(directory / kLockFileName, LockKind::kShared, false);
  switch (attempt.outcome) {
    case LockOutcome::kHeld:
      return std::move(attempt.lock);
    case LockOutcome::kMissing:
      return FileLock();
    case LockOutcome::kBusy:
      return util::Fail(RefusalMessage("writing", role, directory));
    case LockOutcome::kFailed:
      break;
  }
  return util::Fail(FailureMessage(role, directory, attempt.error));
}

}  // namespace boardmill::io
