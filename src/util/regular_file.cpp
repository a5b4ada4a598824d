#include "util/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>

namespace boardmill::util {

namespace {

std::string Capitalized(std::string_view what) {
  std::string text(what);
  if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  return text;
}

}  // namespace

Result<UniqueFile> OpenRegularFile(const std::filesystem::path& path, std::string_view what) {
  // Non-blocking, so that opening a FIFO without a writer returns at once; for a regular file
  // the flag changes nothing.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (descriptor < 0) {
    return Fail("Failed to open " + std::string(what) + ": " + path.string());
  }
  struct stat status {};
  if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(descriptor);
    return Fail(Capitalized(what) + " is not a regular file: " + path.string());
  }
  UniqueFile file(::fdopen(descriptor, "rb"));
  if (!file) {
    ::close(descriptor);
    return Fail("Failed to open " + std::string(what) + ": " + path.string());
  }
  return file;
}

}  // namespace boardmill::util
