#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "util/result.h"

namespace boardmill::compression {

// The whole decompressed content of a file of one or more Zstandard frames. A file that ends
// inside a frame fails with the truncation message.
util::Result<std::vector<std::uint8_t>> DecompressZstdFile(const std::filesystem::path& path);

}  // namespace boardmill::compression
