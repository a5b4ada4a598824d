#pragma once

#include <cstdint>

namespace boardmill::compression {

// What the Zstandard library says its contexts may hold, for runs that must fit a memory
// ceiling. These are upper bounds: a context touches its tables and window only as data passes
// through it.

// A streaming compression context at `level`; `source_size` is the size pledged before the
// frame starts, 0 when unknown (the library then sizes the context for large inputs).
std::uint64_t CompressionStreamMemoryBytes(std::int32_t level, std::uint64_t source_size);

// The window every standard compression level up to 19 keeps within: what a reader of input
// files whose levels it does not know plans for.
inline constexpr std::uint64_t kTypicalWindowBytes = std::uint64_t{8} << 20;

// A streaming decompression context for frames whose window is at most `window_bytes`.
std::uint64_t DecompressionStreamMemoryBytes(std::uint64_t window_bytes);

// A one-shot compression context at `level` for blocks of up to `block_bytes`.
std::uint64_t BlockCompressionMemoryBytes(std::int32_t level, std::uint64_t block_bytes);

// The largest frame a block of `block_bytes` can compress into.
std::uint64_t CompressedBlockBound(std::uint64_t block_bytes);

}  // namespace boardmill::compression
