#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace boardmill::compression {

// A run of decompressed text. The buffer is shared so that consumers can keep it after the
// decoder has moved on; its size is the slab's length (1 to the decoder's slab size bytes).
struct ZstdTextSlab {
  std::shared_ptr<std::string> text;
  // 0 for the decoder's first slab, then 1, 2, ... across all its calls.
  std::uint64_t sequence = 0;
};

}  // namespace boardmill::compression
