#pragma once

#include <zstd.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "util/result.h"

namespace boardmill::compression {

struct ZstdDecompressionContextDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
struct ZstdCompressionContextDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

// Owners that free the library's contexts on every exit path.
using ZstdDecompressionContext = std::unique_ptr<ZSTD_DCtx, ZstdDecompressionContextDeleter>;
using ZstdCompressionContext = std::unique_ptr<ZSTD_CCtx, ZstdCompressionContextDeleter>;

// `prefix` followed by the library's name for the error `code`.
inline util::Error ZstdError(const char* prefix, std::size_t code) {
  return util::Fail(std::string(prefix) + ZSTD_getErrorName(code));
}

inline constexpr char kTruncatedFrameMessage[] =
    "Zstd decompression ended before the frame was fully decoded.";

// A decoding error of one input file, naming the file so that a user of a large data set knows
// which one is damaged.
inline util::Error InputDecodingError(const std::filesystem::path& input, std::string_view error) {
  return util::Fail("Failed to decode input file " + input.string() + ": " + std::string(error));
}

}  // namespace boardmill::compression
