#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "compression/zstd_context.h"
#include "util/result.h"

namespace boardmill::compression {

// Compresses data handed over in pieces as one Zstandard frame whose size is pledged before it
// starts, through a context kept from frame to frame. Knowing the size lets the library size its
// tables and window to the data, so a small frame costs little to start, unlike a stream of
// unknown length; keeping the context spares an allocation per frame.
class ZstdFrameCompressor {
 public:
  static constexpr std::size_t kOutputBufferBytes = std::size_t{1} << 20;

  // Receives compressed bytes as they come, in order; an error ends the frame.
  using Sink = std::function<util::Result<void>(std::span<const std::uint8_t> bytes)>;

  ZstdFrameCompressor();

  // Compresses the pieces, in order, as one frame at `level`; the value is the frame's size.
  util::Result<std::uint64_t> CompressFrame(std::int32_t level,
                                            std::span<const std::span<const std::uint8_t>> pieces,
                                            const Sink& sink);

  double compress_seconds() const { return compress_seconds_; }

 private:
  util::Result<void> Begin(std::int32_t level, std::uint64_t size);

  ZstdCompressionContext context_;
  std::unique_ptr<std::uint8_t[]> output_;
  double compress_seconds_ = 0.0;
};

}  // namespace boardmill::compression
