#pragma once

#include <cstdint>

#include "util/result.h"

namespace boardmill::compression {

// Whether the Zstandard library accepts `level` (ZSTD_minCLevel() to ZSTD_maxCLevel()).
bool IsSupportedCompressionLevel(std::int32_t level);

// Fails with "Compression level must be in the Zstd-supported range [min, max]." outside it.
util::Result<void> ValidateCompressionLevel(std::int32_t level);

}  // namespace boardmill::compression
