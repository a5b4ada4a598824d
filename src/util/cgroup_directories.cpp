#include "util/cgroup_directories.h"

#include <fstream>
#include <string>

namespace boardmill::util {

namespace {

namespace fs = std::filesystem;

const fs::path kCgroupRoot = "/sys/fs/cgroup";

// Whether a v1 hierarchy's comma-separated controller list ("cpu,cpuacct") holds `controller`.
bool ListsController(std::string_view controllers, std::string_view controller) {
  while (!controllers.empty()) {
    const std::size_t comma = controllers.find(',');
    if (controllers.substr(0, comma) == controller) return true;
    if (comma == std::string_view::npos) break;
    controllers.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

std::vector<CgroupDirectory> ProcessCgroupDirectories(std::string_view v1_controller) {
  const fs::path v1_mount = kCgroupRoot / v1_controller;
  std::vector<CgroupDirectory> directories = {{kCgroupRoot, CgroupVersion::kV2},
                                              {v1_mount, CgroupVersion::kV1}};
  std::ifstream groups("/proc/self/cgroup");
  std::string line;
  while (std::getline(groups, line)) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string_view controllers =
        std::string_view(line).substr(first + 1, second - first - 1);
    const fs::path group = fs::path(line.substr(second + 1)).relative_path();
    if (controllers.empty()) directories.push_back({kCgroupRoot / group, CgroupVersion::kV2});
    if (ListsController(controllers, v1_controller)) {
      directories.push_back({v1_mount / group, CgroupVersion::kV1});
    }
  }
  return directories;
}

}  // namespace boardmill::util
