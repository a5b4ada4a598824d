#include "io/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace boardmill::io {

namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

int FlockOperation(LockKind kind) {
  return (kind == LockKind::kExclusive ? LOCK_EX : LOCK_SH) | LOCK_NB;
}

}  // namespace

FileLock::~FileLock() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

FileLock::FileLock(FileLock&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

LockAttempt TryLockFile(const std::filesystem::path& path, LockKind kind, bool create) {
  // Reading is all flock needs, so a lock file created by another user can be locked too;
  // O_NONBLOCK keeps a FIFO put in its place from stalling the open, and O_NOFOLLOW refuses a
  // link planted there, which would make the run create or lock a file elsewhere.
  const int flags =
      O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | (create ? O_CREAT : 0);
  const int descriptor = ::open(path.c_str(), flags, 0666);
  if (descriptor < 0) {
    const std::error_code error = LastError();
    const bool missing =
        error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory;
    return {missing ? LockOutcome::kMissing : LockOutcome::kFailed, error, {}};
  }
  FileLock lock(descriptor);
  int result = 0;
  do {
    result = ::flock(descriptor, FlockOperation(kind));
  } while (result != 0 && errno == EINTR);
  if (result == 0) return {LockOutcome::kHeld, {}, std::move(lock)};
  const std::error_code error = LastError();
  if (error == std::errc::operation_would_block) return {LockOutcome::kBusy, error, {}};
  return {LockOutcome::kFailed, error, {}};
}

}  // namespace boardmill::io
