#include "run/free_space.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <system_error>

namespace boardmill::run {

bool HasEnoughFreeSpace(const std::filesystem::path& directory, std::uint64_t min_bytes,
                        std::string& message) {
  struct statvfs volume {};
  if (statvfs(directory.c_str(), &volume) != 0) {
    message = "Failed to query free space: " + std::generic_category().message(errno);
    return false;
  }
  // f_bavail excludes the blocks reserved for the superuser: what this process can really use.
  const std::uint64_t available =
      static_cast<std::uint64_t>(volume.f_bavail) * static_cast<std::uint64_t>(volume.f_frsize);
  if (available >= min_bytes) return true;
  message = "Available space " + std::to_string(available) + " is below the minimum required " +
            std::to_string(min_bytes) + " bytes.";
  return false;
}

}  // namespace boardmill::run
