#include "compression/compression_level.h"

#include <zstd.h>

#include <string>

namespace boardmill::compression {

bool IsSupportedCompressionLevel(std::int32_t level) {
  return level >= ZSTD_minCLevel() && level <= ZSTD_maxCLevel();
}

util::Result<void> ValidateCompressionLevel(std::int32_t level) {
  if (IsSupportedCompressionLevel(level)) return {};
  return util::Fail("Compression level must be in the Zstd-supported range [" +
                    std::to_string(ZSTD_minCLevel()) + ", " + std::to_string(ZSTD_maxCLevel()) +
                    "].");
}

}  // namespace boardmill::compression
