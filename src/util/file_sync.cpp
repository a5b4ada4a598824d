#include "util/file_sync.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace boardmill::util {

namespace {

namespace fs = std::filesystem;

enum class SyncKind { kAll, kData };

// The end of the paths whose sync a test makes fail; empty when none was asked for.
const std::string& FailingPathFragment() {
  static const std::string fragment = [] {
    const char* value = std::getenv("BOARDMILL_TEST_FAIL_SYNC");
    return std::string(value == nullptr ? "" : value);
  }();
  return fragment;
}

Result<void> SyncFailure(const fs::path& path, int error) {
  return Fail("Failed to sync " + path.string() + " to disk: " + std::strerror(error));
}

Result<void> SyncDescriptor(int descriptor, const fs::path& path, SyncKind kind) {
  const std::string& failing = FailingPathFragment();
  if (!failing.empty() && path.native().ends_with(failing)) {
    return SyncFailure(path, EIO);
  }
  const int status = kind == SyncKind::kData ? ::fdatasync(descriptor) : ::fsync(descriptor);
  // EINVAL: a pipe, a device or another file that holds nothing to sync; the bytes went wherever
  // it sends them.
  if (status != 0 && errno != EINVAL) return SyncFailure(path, errno);
  return {};
}

Result<void> SyncOpened(const fs::path& path, int flags, SyncKind kind) {
  // O_NONBLOCK: opening a pipe whose writer has gone would otherwise wait for the next one.
  const int descriptor = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return SyncFailure(path, errno);
  Result<void> synced = SyncDescriptor(descriptor, path, kind);
  ::close(descriptor);
  return synced;
}

}  // namespace

Result<void> SyncFile(std::FILE* file, const fs::path& path) {
  if (std::fflush(file) != 0) return SyncFailure(path, errno);
  return SyncDescriptor(::fileno(file), path, SyncKind::kAll);
}

Result<void> SyncFile(const fs::path& path) { return SyncOpened(path, O_RDONLY, SyncKind::kAll); }

Result<void> SyncFileData(const fs::path& path) {
  return SyncOpened(path, O_RDONLY, SyncKind::kData);
}

Result<void> SyncDirectory(const fs::path& path) {
  return SyncOpened(path.empty() ? fs::path(".") : path, O_RDONLY | O_DIRECTORY, SyncKind::kAll);
}

}  // namespace boardmill::util
