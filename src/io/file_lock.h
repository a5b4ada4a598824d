#pragma once

#include <filesystem>
#include <system_error>

namespace boardmill::io {

enum class LockKind { kExclusive, kShared };

// One flock(2) lock, held until the object goes away. The kernel drops it with the last
// descriptor of the open file, so a process that dies, even by SIGKILL, leaves no lock behind;
// the descriptor is close-on-exec, so no program the process starts inherits it.
class FileLock {
 public:
  FileLock() = default;
  explicit FileLock(int descriptor) : descriptor_(descriptor) {}
  ~FileLock();
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int descriptor_ = -1;
};

enum class LockOutcome {
  kHeld,
  kBusy,     // another open file holds a lock that excludes this one
  kMissing,  // the file, or the directory it would be created in, does not exist
  kFailed,   // anything else; the reason is in `error`
};

struct LockAttempt {
  LockOutcome outcome = LockOutcome::kFailed;
  std::error_code error;
  FileLock lock;  // holds the lock when the outcome is kHeld
};

// Opens `path`, creating it first when `create` is set, and tries once to lock it: a command
// that finds its place in use refuses at once rather than waiting behind a run of unknown length.
LockAttempt TryLockFile(const std::filesystem::path& path, LockKind kind, bool create);

}  // namespace boardmill::io
