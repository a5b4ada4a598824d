#pragma once

#include <cstdint>
#include <filesystem>

#include "io/async_read_backend.h"

namespace boardmill::io {

// What `VisitFileChunksAsync` reads and how many reads it keeps going at once.
struct AsyncFileReadRequest {
  std::filesystem::path path;
  // Bytes per chunk; 0 behaves as 1.
  std::uint64_t chunk_size = 0;
  // Upper bound on simultaneous reads; 0 behaves as 1 and more than 64 as 64.
  std::uint64_t max_reads_in_flight = 0;
  AsyncReadBackend backend = AsyncReadBackend::kAutomatic;
};

}  // namespace boardmill::io
