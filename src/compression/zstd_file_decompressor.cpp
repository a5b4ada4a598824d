#include "compression/zstd_file_decompressor.h"

#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "compression/zstd_context.h"

namespace boardmill::compression {

namespace {

constexpr std::size_t kOutputBufferSize = 1 << 20;
constexpr std::size_t kReadChunkSize = 1 << 20;
// A frame header may announce any size; trust it for pre-sizing only up to this much, so that a
// damaged or hostile header cannot make the reader ask for absurd amounts of memory up front.
constexpr unsigned long long kMaxTrustedContentSize = 256ULL << 20;

// Read with the C library: a file stream's buffer throws when a read fails (for example on a
// directory), and expected failures must come back as results.
util::Result<std::vector<std::uint8_t>> ReadWholeFile(const std::filesystem::path& path) {
  const auto close = [](std::FILE* file) { std::fclose(file); };
  const std::unique_ptr<std::FILE, decltype(close)> file(std::fopen(path.c_str(), "rb"), close);
  if (!file) return util::Fail("Failed to open input file: " + path.string());
  std::vector<std::uint8_t> bytes;
  std::error_code unknown_size;
  const std::uintmax_t size = std::filesystem::file_size(path, unknown_size);
  if (!unknown_size) bytes.reserve(size);
  std::vector<std::uint8_t> chunk(kReadChunkSize);
  while (const std::size_t read = std::fread(chunk.data(), 1, chunk.size(), file.get())) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(read));
  }
  if (std::ferror(file.get())) {
    return util::Fail("Failed while reading input file: " + path.string());
  }
  return bytes;
}

}  // namespace

util::Result<std::vector<std::uint8_t>> DecompressZstdFile(const std::filesystem::path& path) {
  util::Result<std::vector<std::uint8_t>> compressed = ReadWholeFile(path);
  if (!compressed || compressed->empty()) return compressed;

  std::vector<std::uint8_t> content;
  const unsigned long long announced =
      ZSTD_getFrameContentSize(compressed->data(), compressed->size());
  if (announced != ZSTD_CONTENTSIZE_UNKNOWN && announced != ZSTD_CONTENTSIZE_ERROR &&
      announced != 0 && announced <= kMaxTrustedContentSize) {
    content.reserve(announced);
  }

  const ZstdDecompressionContext context(ZSTD_createDCtx());
  if (!context) return util::Fail("Failed to create a Zstd decompression context.");
  std::vector<std::uint8_t> buffer(kOutputBufferSize);
  ZSTD_inBuffer in{compressed->data(), compressed->size(), 0};
  for (;;) {
    ZSTD_outBuffer out{buffer.data(), buffer.size(), 0};
    const std::size_t input_before = in.pos;
    const std::size_t status = ZSTD_decompressStream(context.get(), &out, &in);
    if (ZSTD_isError(status)) {
      return util::Fail(std::string("Zstd decompression failed: ") + ZSTD_getErrorName(status));
    }
    content.insert(content.end(), buffer.data(), buffer.data() + out.pos);
    if (in.pos == in.size && status == 0) return content;
    // Every call gets the whole output buffer, so a call that neither consumes nor produces
    // anything has run out of input inside a frame. Waiting for more stalls is pointless: the
    // library itself fails with a "no progress" error after a handful of them.
    const bool progressed = in.pos != input_before || out.pos != 0;
    if (!progressed) return util::Fail(kTruncatedFrameMessage);
  }
}

}  // namespace boardmill::compression
