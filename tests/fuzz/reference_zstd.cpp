#include "fuzz/reference_zstd.h"

#include <zstd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace boardmill::testing {
namespace {

struct CompressionContextDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
struct DecompressionContextDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// The harness's own tools must work, or nothing it checks means anything.
void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "harness failure: %s\n", what);
  std::abort();
}

void RequireLibrary(std::size_t status, const char* what) {
  if (!ZSTD_isError(status)) return;
  std::fprintf(stderr, "harness failure: %s: %s\n", what, ZSTD_getErrorName(status));
  std::abort();
}

// Streams the piece through continue calls before the end call, so the frame header cannot
// carry the content size.
void StreamFrame(ZSTD_CCtx* context, std::string_view piece, std::string& out) {
  const std::size_t half = piece.size() / 2;
  std::string buffer(ZSTD_compressBound(piece.size()) + ZSTD_CStreamOutSize(), '\0');
  ZSTD_outBuffer target{buffer.data(), buffer.size(), 0};
  ZSTD_inBuffer first{piece.data(), half, 0};
  while (first.pos < first.size) {
    RequireLibrary(ZSTD_compressStream2(context, &target, &first, ZSTD_e_continue), "continue");
  }
  ZSTD_inBuffer rest{piece.data() + half, piece.size() - half, 0};
  std::size_t remaining = 0;
  do {
    remaining = ZSTD_compressStream2(context, &target, &rest, ZSTD_e_end);
    RequireLibrary(remaining, "end");
  } while (remaining != 0);
  out.append(buffer.data(), target.pos);
}

void OneShotFrame(ZSTD_CCtx* context, std::string_view piece, std::string& out) {
  std::string buffer(ZSTD_compressBound(piece.size()), '\0');
  const std::size_t size =
      ZSTD_compress2(context, buffer.data(), buffer.size(), piece.data(), piece.size());
  RequireLibrary(size, "compress");
  out.append(buffer.data(), size);
}

}  // namespace

FrameStyle FrameStyle::FromByte(std::uint8_t byte) {
  return FrameStyle{.level = (byte & 4) != 0 ? -1 - (byte >> 3) % 4 : 1 + (byte >> 3) % 3,
                    .checksum = (byte & 1) != 0,
                    .streamed = (byte & 2) != 0};
}

CompressedFrames CompressFrames(std::string_view text, std::span<const std::size_t> cuts,
                                FrameStyle style) {
  const std::unique_ptr<ZSTD_CCtx, CompressionContextDeleter> context(ZSTD_createCCtx());
  Require(context != nullptr, "no compression context");
  RequireLibrary(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_compressionLevel, style.level),
                 "level");
  RequireLibrary(ZSTD_CCtx_setParameter(context.get(), ZSTD_c_checksumFlag, style.checksum ? 1 : 0),
                 "checksum");
  CompressedFrames frames;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t end = i < cuts.size() ? cuts[i] : text.size();
    Require(start <= end && end <= text.size(), "cuts out of order");
    const std::string_view piece = text.substr(start, end - start);
    if (style.streamed) {
      StreamFrame(context.get(), piece, frames.bytes);
    } else {
      OneShotFrame(context.get(), piece, frames.bytes);
    }
    frames.frame_ends.push_back(frames.bytes.size());
    frames.text_ends.push_back(end);
    start = end;
  }
  return frames;
}

ReferenceDecode DecodeFrames(std::span<const std::string_view> chunks, std::size_t output_size) {
  const std::unique_ptr<ZSTD_DCtx, DecompressionContextDeleter> context(ZSTD_createDCtx());
  Require(context != nullptr, "no decompression context");
  std::string buffer(std::max<std::size_t>(output_size, 1), '\0');
  ReferenceDecode decoded;
  // Only a call that did something says whether a frame is open: one that finds nothing to do
  // after a frame has ended answers with the header size of a next frame.
  bool frame_complete = true;
  for (const std::string_view chunk : chunks) {
    ZSTD_inBuffer source{chunk.data(), chunk.size(), 0};
    bool buffer_filled = false;
    while (source.pos < source.size || buffer_filled) {
      ZSTD_outBuffer target{buffer.data(), buffer.size(), 0};
      const std::size_t before = source.pos;
      const std::size_t status = ZSTD_decompressStream(context.get(), &target, &source);
      if (ZSTD_isError(status)) {
        decoded.error = ZSTD_getErrorName(status);
        return decoded;
      }
      decoded.text.append(buffer.data(), target.pos);
      if (source.pos != before || target.pos != 0) frame_complete = status == 0;
      buffer_filled = target.pos == target.size;
      Require(source.pos != before || target.pos != 0 || source.pos == source.size,
              "the library took no input and gave no output");
    }
  }
  if (!frame_complete) decoded.error = "truncated";
  return decoded;
}

std::size_t DecodedSizeBound(std::string_view bytes) {
  // Every block (at most 128 KiB of content) costs a 3-byte header and at least one more byte.
  constexpr std::size_t kBlockSize = std::size_t{128} << 10;
  return (bytes.size() / 4 + 1) * kBlockSize;
}

}  // namespace boardmill::testing
