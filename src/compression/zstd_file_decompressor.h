#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "util/result.h"

namespace boardmill::compression {

// Takes the next piece of decompressed content; returns true to go on, false to stop reading
// (still a success), or an error to abort.
using ZstdChunkVisitor = std::function<util::Result<bool>(std::span<const std::uint8_t> chunk)>;

// Streams a file of one or more Zstandard frames through fixed 1 MiB buffers and hands its
// content to `visitor` in order, piece by piece; a piece is valid only during the call. Damage
// is reported when the reader reaches it, after the content before it. A file that ends inside a
// frame fails with the truncation message.
util::Result<void> VisitZstdFileChunks(const std::filesystem::path& path,
                                       const ZstdChunkVisitor& visitor);

// The whole decompressed content of a file of one or more Zstandard frames.
util::Result<std::vector<std::uint8_t>> DecompressZstdFile(const std::filesystem::path& path);

}  // namespace boardmill::compression
