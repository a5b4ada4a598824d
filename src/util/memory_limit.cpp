#include "util/memory_limit.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace boardmill::util {

namespace {

namespace fs = std::filesystem;

// cgroup v1 writes a page-rounded 2^63 - 1 for "no limit"; anything this large is none.
constexpr std::uint64_t kNoLimitThreshold = std::uint64_t{1} << 60;
const fs::path kCgroupRoot = "/sys/fs/cgroup";

std::uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

// The files that may state this process's limit. /proc/self/cgroup names the group of each
// hierarchy ("0::/path" for v2, "N:memory:/path" for v1); inside a container the group is often
// mounted as the root itself, so the root's file is a candidate too.
std::vector<fs::path> CgroupLimitFiles() {
  std::vector<fs::path> files = {kCgroupRoot / "memory.max",
                                 kCgroupRoot / "memory" / "memory.limit_in_bytes"};
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  while (std::getline(groups, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const fs::path group = fs::path(line.substr(second + 1)).relative_path();
    if (controllers.empty()) files.push_back(kCgroupRoot / group / "memory.max");
    if (controllers == "memory") {
      files.push_back(kCgroupRoot / "memory" / group / "memory.limit_in_bytes");
    }
  }
  return files;
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
  for (const fs::path& file : CgroupLimitFiles()) {
    const std::uint64_t group_limit = ParseCgroupMemoryLimit(file);
    if (group_limit != 0) limit = limit == 0 ? group_limit : std::min(limit, group_limit);
  }
  return limit;
}

}  // namespace boardmill::util
