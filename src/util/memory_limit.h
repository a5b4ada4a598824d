#pragma once

#include <cstdint>
#include <filesystem>

namespace boardmill::util {

// The memory this process may use: the smallest limit of its control groups (cgroup v2
// memory.max, v1 memory.limit_in_bytes) where one is set, and never more than the machine's
// physical memory. 0 when neither can be read.
std::uint64_t ProcessMemoryLimitBytes();

// The limit a cgroup memory file states: a number of bytes, or "max" and absurdly large values
// (what v1 reports when no limit is set) for none, read as 0. Exposed for tests.
std::uint64_t ParseCgroupMemoryLimit(const std::filesystem::path& file);

}  // namespace boardmill::util
