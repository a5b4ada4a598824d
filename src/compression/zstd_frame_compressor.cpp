#include "compression/zstd_frame_compressor.h"

#include <string>

#include "util/stopwatch.h"

namespace boardmill::compression {

// The output buffer is left uninitialised: the library writes before anything is read.
ZstdFrameCompressor::ZstdFrameCompressor() : output_(new std::uint8_t[kOutputBufferBytes]) {}

util::Result<void> ZstdFrameCompressor::Begin(std::int32_t level, std::uint64_t size) {
  if (!context_) context_.reset(ZSTD_createCCtx());
  if (!context_) return util::Fail("Failed to create a Zstd compression context.");
  ZSTD_CCtx_reset(context_.get(), ZSTD_reset_session_only);
  std::size_t status = ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_compressionLevel, level);
  if (ZSTD_isError(status))
    return ZstdError("Failed to configure Zstd compression level: ", status);
  status = ZSTD_CCtx_setPledgedSrcSize(context_.get(), size);
  if (ZSTD_isError(status)) return ZstdError("Zstd compression failed: ", status);
  return {};
}

util::Result<std::uint64_t> ZstdFrameCompressor::CompressFrame(
    std::int32_t level, std::span<const std::span<const std::uint8_t>> pieces, const Sink& sink) {
  std::uint64_t size = 0;
  for (const std::span<const std::uint8_t> piece : pieces) size += piece.size();
  util::Result<void> begun = Begin(level, size);
  if (!begun) return std::move(begun).TakeError();

  std::uint64_t frame_bytes = 0;
  const auto drain = [&](ZSTD_inBuffer& in, ZSTD_EndDirective directive) -> util::Result<bool> {
    ZSTD_outBuffer out{output_.get(), kOutputBufferBytes, 0};
    util::Stopwatch clock;
    const std::size_t remaining = ZSTD_compressStream2(context_.get(), &out, &in, directive);
    compress_seconds_ += clock.ElapsedSeconds();
    if (ZSTD_isError(remaining)) return ZstdError("Zstd compression failed: ", remaining);
    if (out.pos != 0) {
      util::Result<void> written = sink({output_.get(), out.pos});
      if (!written) return std::move(written).TakeError();
      frame_bytes += out.pos;
    }
    return directive == ZSTD_e_end ? remaining == 0 : in.pos == in.size;
  };

  // An empty frame still needs its end: one empty piece stands for none.
  static constexpr std::span<const std::uint8_t> kNothing;
  const std::span<const std::span<const std::uint8_t>> parts =
      pieces.empty() ? std::span(&kNothing, 1) : pieces;
  for (std::size_t index = 0; index < parts.size(); ++index) {
    const ZSTD_EndDirective directive = index + 1 == parts.size() ? ZSTD_e_end : ZSTD_e_continue;
    ZSTD_inBuffer in{parts[index].data(), parts[index].size(), 0};
    for (;;) {
      util::Result<bool> done = drain(in, directive);
      if (!done) return std::move(done).TakeError();
      if (*done) break;
    }
  }
  return frame_bytes;
}

}  // namespace boardmill::compression
