#pragma once

#include <cstdint>

namespace boardmill::util {

// The number of files the process may keep open at once: shard sets keep hundreds of streams
// open, and the parallel runner sizes its worker pool by this limit.
inline constexpr std::uint64_t kWantedStreamLimit = 8192;

// Raises the soft open-file limit to min(8192, hard limit) unless it is already higher; a
// failure leaves it unchanged.
void RaiseStreamLimit();

// The current soft open-file limit; 0 when it cannot be read.
std::uint64_t CurrentStreamLimit();

}  // namespace boardmill::util
