#include "pipeline/parallel/input_stamp.h"

#include <sys/stat.h>

namespace boardmill::pipeline {

InputStamp StampOf(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return {};
  return {static_cast<std::uint64_t>(status.st_size),
          static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 +
              static_cast<std::int64_t>(status.st_mtim.tv_nsec)};
}

}  // namespace boardmill::pipeline
