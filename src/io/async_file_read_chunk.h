#pragma once

#include <cstdint>
#include <vector>

namespace boardmill::io {

// One piece of a file, handed to the visitor in file order. Every chunk but the last holds
// exactly the requested chunk size.
struct AsyncFileReadChunk {
  std::vector<std::uint8_t> bytes;
  // 0 for the first chunk of the file, then 1, 2, ...
  std::uint64_t sequence = 0;
  // File offset of the chunk's first byte.
  std::uint64_t offset = 0;
};

}  // namespace boardmill::io
