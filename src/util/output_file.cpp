#include "util/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace boardmill::util {

namespace {

constexpr int kWriteFlags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW;
constexpr mode_t kFileMode = 0666;  // narrowed by the umask, as fopen does

// Wraps a descriptor in a stream, closing it when that fails.
UniqueFile StreamOf(int descriptor, const char* mode) {
  if (descriptor < 0) return nullptr;
  UniqueFile file(fdopen(descriptor, mode));
  if (!file) {
    const int error = errno;
    ::close(descriptor);
    errno = error;
  }
  return file;
}

bool IsCharacterDevice(const std::filesystem::path& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISCHR(status.st_mode);
}

}  // namespace

UniqueFile CreateOutputFile(const std::filesystem::path& path, const char* mode) {
  if (IsCharacterDevice(path)) return StreamOf(::open(path.c_str(), kWriteFlags), mode);
  // Whatever stays in the way (a directory, an entry this process may not remove) makes the
  // exclusive create fail.
  ::unlink(path.c_str());
  return StreamOf(::open(path.c_str(), kWriteFlags | O_CREAT | O_EXCL, kFileMode), mode);
}

UniqueFile OpenOutputForAppend(const std::filesystem::path& path) {
  const int descriptor =
      ::open(path.c_str(), kWriteFlags | O_CREAT | O_APPEND | O_NONBLOCK, kFileMode);
  if (descriptor < 0) return nullptr;
  struct stat status {};
  const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
  if (!regular || ::fcntl(descriptor, F_SETFL, O_APPEND) != 0) {
    ::close(descriptor);
    errno = EINVAL;
    return nullptr;
  }
  return StreamOf(descriptor, "ab");
}

Result<void> CreateParentDirectories(const std::filesystem::path& path) {
  const std::filesystem::path parent = path.parent_path();
  if (parent.empty()) return {};
  std::error_code error;
  std::filesystem::create_directories(parent, error);
  if (error) return Fail(error.message());
  return {};
}

}  // namespace boardmill::util
