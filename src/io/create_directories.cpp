#include "io/create_directories.h"

#include <string>
#include <system_error>

namespace boardmill::io {

util::Result<void> CreateDirectories(const std::filesystem::path& directory,
                                     std::string_view failure_prefix) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) return util::Fail(std::string(failure_prefix) + error.message());
  return {};
}

}  // namespace boardmill::io
