#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "compression/zstd_context.h"
#include "util/byte_digest.h"
#include "util/result.h"

namespace boardmill::compression {

// Takes the next piece of decompressed content; returns true to go on, false to stop reading
// (still a success), or an error to abort.
using ZstdChunkVisitor = std::function<util::Result<bool>(std::span<const std::uint8_t> chunk)>;

// What reading one file took: its bytes before and after decompression, and the seconds spent
// in reads and in the decompressor.
struct ZstdFileReadCounts {
  std::uint64_t compressed_bytes = 0;
  std::uint64_t decompressed_bytes = 0;
  double read_seconds = 0.0;
  double decompress_seconds = 0.0;
};

// Streams files of one or more Zstandard frames through two fixed buffers and a decompression
// context that it keeps from one file to the next, so that a thread reading many files sets them
// up once. Every reader of compressed input goes through it.
class ZstdFileReader {
 public:
  static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

  // Whether a decoding error names the file as an input file ("Failed to decode input file
  // <path>: ..."), or comes bare for a caller that names the file its own way.
  enum class ErrorNaming { kInputFile, kBare };

  explicit ZstdFileReader(ErrorNaming naming = ErrorNaming::kInputFile);

  // Hands the file's content to `visitor` in order, piece by piece; a piece is valid only during
  // the call. Damage is reported when the reader reaches it, after the content before it; a file
  // that ends inside a frame fails with the truncation message. True when the file was read to
  // its end, false when the visitor stopped it. Adds what the reading took to `counts`, and the
  // stored bytes as read to `stored` when given one. Anything but a regular file is refused
  // before a byte is read; `what` names the file in the messages.
  util::Result<bool> Visit(const std::filesystem::path& path, const ZstdChunkVisitor& visitor,
                           ZstdFileReadCounts& counts, std::string_view what = "input file",
                           util::ByteDigest* stored = nullptr);

 private:
  util::Error DecodingError(const std::filesystem::path& path, std::string_view error) const;

  ErrorNaming naming_;
  ZstdDecompressionContext context_;
  std::unique_ptr<std::uint8_t[]> input_;
  std::unique_ptr<std::uint8_t[]> output_;
};

// One file's content through a reader of its own (see ZstdFileReader::Visit), with bare decoding
// errors.
util::Result<void> VisitZstdFileChunks(const std::filesystem::path& path,
                                       const ZstdChunkVisitor& visitor,
                                       std::string_view what = "input file",
                                       util::ByteDigest* stored = nullptr);

// The whole decompressed content of a file of one or more Zstandard frames.
util::Result<std::vector<std::uint8_t>> DecompressZstdFile(const std::filesystem::path& path);

}  // namespace boardmill::compression
