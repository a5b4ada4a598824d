#include "compression/zstd_memory.h"

// The size estimates belong to the library's advanced interface.
#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>

namespace boardmill::compression {

std::uint64_t CompressionStreamMemoryBytes(std::int32_t level, std::uint64_t source_size) {
  const ZSTD_compressionParameters parameters =
      ZSTD_getCParams(level, source_size == 0 ? ZSTD_CONTENTSIZE_UNKNOWN : source_size, 0);
  return ZSTD_estimateCStreamSize_usingCParams(parameters);
}

std::uint64_t DecompressionStreamMemoryBytes(std::uint64_t window_bytes) {
  return ZSTD_estimateDStreamSize(window_bytes);
}

std::uint64_t BlockCompressionMemoryBytes(std::int32_t level, std::uint64_t block_bytes) {
  return ZSTD_estimateCCtxSize_usingCParams(ZSTD_getCParams(level, block_bytes, 0));
}

std::uint64_t CompressedBlockBound(std::uint64_t block_bytes) {
  return ZSTD_compressBound(block_bytes);
}

}  // namespace boardmill::compression
