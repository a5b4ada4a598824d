#pragma once

#include <cstdint>

#include "util/cgroup_directories.h"

namespace boardmill::util {

// The CPUs this process may use, which the default thread counts follow: the CPUs its affinity
// mask allows (taskset, a container's cpuset), or fewer when a control group's CPU quota grants
// less time than that, rounded up. At least 1.
std::uint64_t UsableCpuCount();

// The CPUs the quota in one control group directory grants, rounded up: v2 cpu.max holds
// "QUOTA PERIOD" or "max PERIOD", v1 cpu.cfs_quota_us / cpu.cfs_period_us hold one number each,
// -1 for no quota. 0 when there is no quota or it cannot be read. Exposed for tests.
std::uint64_t CgroupCpuQuota(const CgroupDirectory& directory);

}  // namespace boardmill::util
