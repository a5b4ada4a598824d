#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "util/result.h"

namespace boardmill::compression {

// Compresses `raw` into one complete, self-contained Zstandard frame at `compression_level`
// (0 is the library default), appended to `output`; returns its size. Frames of consecutive
// blocks can be concatenated and read as one stream. Each calling thread reuses its own
// compression context, freed when the thread exits, so any number of threads may call this at
// once. The frame is compressed into a buffer the calling thread keeps, so `output` grows by the
// frame's size and nothing is allocated per block once the thread has compressed a block of
// this size.
util::Result<std::uint64_t> AppendCompressedBlock(std::span<const std::uint8_t> raw,
                                                  int compression_level,
                                                  std::vector<std::uint8_t>& output);

}  // namespace boardmill::compression
