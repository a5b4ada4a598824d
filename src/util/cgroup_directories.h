#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace boardmill::util {

enum class CgroupVersion { kV1, kV2 };

// A control group directory whose files may limit this process, and the layout its files follow.
struct CgroupDirectory {
  std::filesystem::path path;
  CgroupVersion version;
};

// The directories that may hold this process's limits of one controller ("memory", "cpu"): the
// groups /proc/self/cgroup names ("0::/path" for v2, "N:cpu,cpuacct:/path" for v1, the v1 group
// under the controller's own mount), and the roots of both layouts, since inside a container the
// group is often mounted as the root itself. Directories that do not exist are listed too; their
// files simply cannot be read.
std::vector<CgroupDirectory> ProcessCgroupDirectories(std::string_view v1_controller);

}  // namespace boardmill::util
