#include "compression/zstd_file_decompressor.h"

#include <cstdio>
#include <string>

#include "compression/zstd_context.h"
#include "util/unique_file.h"

namespace boardmill::compression {

namespace {

constexpr std::size_t kBufferSize = std::size_t{1} << 20;

}  // namespace

util::Result<void> VisitZstdFileChunks(const std::filesystem::path& path,
                                       const ZstdChunkVisitor& visitor) {
  // Read with the C library: a file stream's buffer throws when a read fails (for example on a
  // directory), and expected failures must come back as results.
  const util::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return util::Fail("Failed to open input file: " + path.string());
  const ZstdDecompressionContext context(ZSTD_createDCtx());
  if (!context) return util::Fail("Failed to create a Zstd decompression context.");
  std::vector<std::uint8_t> input(kBufferSize);
  std::vector<std::uint8_t> output(kBufferSize);
  bool frame_complete = true;

  while (const std::size_t read = std::fread(input.data(), 1, input.size(), file.get())) {
    ZSTD_inBuffer in{input.data(), read, 0};
    // A full output buffer may leave decoded bytes inside the decompressor: drain it before the
    // next read.
    bool output_full = false;
    while (in.pos < in.size || output_full) {
      ZSTD_outBuffer out{output.data(), output.size(), 0};
      const std::size_t input_before = in.pos;
      const std::size_t status = ZSTD_decompressStream(context.get(), &out, &in);
      if (ZSTD_isError(status)) {
        return util::Fail(std::string("Zstd decompression failed: ") + ZSTD_getErrorName(status));
      }
      // Only a call that did something tells whether the frame is complete: a draining call
      // after a frame ended exactly on a full buffer answers with the next header's size.
      if (in.pos != input_before || out.pos != 0) frame_complete = status == 0;
      output_full = out.pos == out.size;
      if (out.pos == 0) continue;
      util::Result<bool> more = visitor(std::span<const std::uint8_t>(output.data(), out.pos));
      if (!more) return std::move(more).TakeError();
      if (!*more) return {};
    }
  }
  if (std::ferror(file.get())) {
    return util::Fail("Failed while reading input file: " + path.string());
  }
  if (!frame_complete) return util::Fail(kTruncatedFrameMessage);
  return {};
}

util::Result<std::vector<std::uint8_t>> DecompressZstdFile(const std::filesystem::path& path) {
  std::vector<std::uint8_t> content;
  util::Result<void> read =
      VisitZstdFileChunks(path, [&content](std::span<const std::uint8_t> chunk) {
        content.insert(content.end(), chunk.begin(), chunk.end());
        return util::Result<bool>(true);
      });
  if (!read) return std::move(read).TakeError();
  return content;
}

}  // namespace boardmill::compression
