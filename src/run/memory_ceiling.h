#pragma once

#include <cstdint>
#include <string>

#include "util/result.h"

namespace boardmill::run {

inline constexpr std::uint64_t kMebibyte = std::uint64_t{1} << 20;

// The memory a run may hold, in MiB: `requested_mib` when given (not 0), otherwise half of what
// the process may use, so that a default run leaves room for the page cache and whatever else
// the machine runs.
std::uint64_t ResolveMemoryCeilingMib(std::uint64_t requested_mib);
// Half of `process_limit_bytes` in MiB, at least 1; 1024 when the limit is unknown (0).
std::uint64_t DefaultMemoryCeilingMib(std::uint64_t process_limit_bytes);

// The ceiling in bytes, saturating rather than overflowing for absurd values.
std::uint64_t MemoryCeilingBytes(std::uint64_t ceiling_mib);

// Refuses a run whose estimated need exceeds the ceiling, with one line saying what needs how
// much: "Memory ceiling of 100 MiB is too small: <what> needs about 920 MiB." `what` reads as a
// singular subject ("a sequential run with 256 level-8 shard streams").
util::Result<void> CheckMemoryNeed(std::uint64_t ceiling_mib, std::uint64_t needed_bytes,
                                   const std::string& what);

}  // namespace boardmill::run
