#include "compression/zstd_file_decompressor.h"

#include <cstdio>
#include <string>
#include <utility>

#include "util/regular_file.h"
#include "util/stopwatch.h"
#include "util/unique_file.h"

namespace boardmill::compression {

// The buffers are left uninitialised: each is written before it is read.
ZstdFileReader::ZstdFileReader(ErrorNaming naming)
    : naming_(naming),
      input_(new std::uint8_t[kBufferBytes]),
      output_(new std::uint8_t[kBufferBytes]) {}

util::Error ZstdFileReader::DecodingError(const std::filesystem::path& path,
                                          std::string_view error) const {
  if (naming_ == ErrorNaming::kBare) return util::Fail(std::string(error));
  return InputDecodingError(path, error);
}

util::Result<bool> ZstdFileReader::Visit(const std::filesystem::path& path,
                                         const ZstdChunkVisitor& visitor,
                                         ZstdFileReadCounts& counts, std::string_view what,
                                         util::ByteDigest* stored) {
  // Read with the C library: a file stream's buffer throws when a read fails, and expected
  // failures must come back as results.
  util::Result<util::UniqueFile> opened = util::OpenRegularFile(path, what);
  if (!opened) return std::move(opened).TakeError();
  const util::UniqueFile file = std::move(*opened);
  if (!context_) context_.reset(ZSTD_createDCtx());
  if (!context_) return util::Fail("Failed to create a Zstd decompression context.");
  // A file that failed part way leaves its frame half decoded in the context.
  ZSTD_DCtx_reset(context_.get(), ZSTD_reset_session_only);
  bool frame_complete = true;

  for (;;) {
    const util::Stopwatch read_clock;
    const std::size_t read = std::fread(input_.get(), 1, kBufferBytes, file.get());
    counts.read_seconds += read_clock.ElapsedSeconds();
    if (read == 0) break;
    counts.compressed_bytes += read;
    if (stored != nullptr) stored->Add({input_.get(), read});

    ZSTD_inBuffer in{input_.get(), read, 0};
    // Keep going while input remains or the output filled up: a full output buffer may leave
    // decoded bytes inside the decompressor, which must be drained before the next read.
    bool output_full = false;
    while (in.pos < in.size || output_full) {
      ZSTD_outBuffer out{output_.get(), kBufferBytes, 0};
      const std::size_t input_before = in.pos;
      const util::Stopwatch decompress_clock;
      const std::size_t status = ZSTD_decompressStream(context_.get(), &out, &in);
      counts.decompress_seconds += decompress_clock.ElapsedSeconds();
      if (ZSTD_isError(status)) {
        return DecodingError(path, ZstdError("Zstd decompression failed: ", status).message);
      }
      // A draining call after a frame ended exactly on a full buffer finds nothing to do, and
      // the library then answers with the size of a next frame's header; only a call that did
      // something tells whether the frame is complete.
      if (in.pos != input_before || out.pos != 0) frame_complete = status == 0;
      output_full = out.pos == out.size;
      if (out.pos == 0) continue;
      counts.decompressed_bytes += out.pos;
      util::Result<bool> more = visitor(std::span<const std::uint8_t>(output_.get(), out.pos));
      if (!more || !*more) return more;
    }
  }
  if (std::ferror(file.get())) {
    return util::Fail("Failed while reading " + std::string(what) + ": " + path.string());
  }
  if (!frame_complete) return DecodingError(path, kTruncatedFrameMessage);
  return true;
}

util::Result<void> VisitZstdFileChunks(const std::filesystem::path& path,
                                       const ZstdChunkVisitor& visitor, std::string_view what,
                                       util::ByteDigest* stored) {
  ZstdFileReadCounts counts;
  util::Result<bool> read =
      ZstdFileReader(ZstdFileReader::ErrorNaming::kBare).Visit(path, visitor, counts, what, stored);
  if (!read) return std::move(read).TakeError();
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
