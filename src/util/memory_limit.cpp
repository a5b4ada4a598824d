#include "util/memory_limit.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "util/cgroup_directories.h"

namespace boardmill::util {

namespace {

namespace fs = std::filesystem;

// cgroup v1 writes a page-rounded 2^63 - 1 for "no limit"; anything this large is none.
constexpr std::uint64_t kNoLimitThreshold = std::uint64_t{1} << 60;

std::uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

}  // namespace

std::uint64_t ParseCgroupMemoryLimit(const fs::path& file) {
  std::ifstream stream(file);
  std::string text;
  if (!(stream >> text) || text.empty() ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return 0;
  }
  const std::uint64_t bytes = std::stoull(text.substr(0, 19));
  return text.size() > 19 || bytes >= kNoLimitThreshold ? 0 : bytes;
}

std::uint64_t ProcessMemoryLimitBytes() {
  std::uint64_t limit = PhysicalMemoryBytes();
  for (const CgroupDirectory& group : ProcessCgroupDirectories("memory")) {
    const std::uint64_t group_limit = ParseCgroupMemoryLimit(
        group.path /
        (group.version == CgroupVersion::kV2 ? "memory.max" : "memory.limit_in_bytes"));
    if (group_limit != 0) limit = limit == 0 ? group_limit : std::min(limit, group_limit);
  }
  return limit;
}

}  // namespace boardmill::util
