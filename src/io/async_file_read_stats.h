#pragma once

#include <cstdint>

namespace boardmill::io {

// Filled by `VisitFileChunksAsync`; the caller passes it zeroed.
struct AsyncFileReadStats {
  // The file size once it is known; after a complete read or a stop, the bytes delivered.
  std::uint64_t bytes = 0;
  // Chunks handed to the visitor.
  std::uint64_t chunks = 0;
  // From the first read request to the end; 0 for an empty file.
  double elapsed_seconds = 0.0;
};

}  // namespace boardmill::io
