#include "compression/block_compressor.h"

#include <zstd.h>

#include <string>

#include "compression/zstd_context.h"

namespace boardmill::compression {
namespace {

// Created on the thread's first block and freed when the thread exits; never shared.
thread_local ZstdCompressionContext thread_context;

ZSTD_CCtx* ThreadContext() {
  if (!thread_context) thread_context.reset(ZSTD_createCCtx());
  return thread_context.get();
}

}  // namespace

util::Result<std::vector<std::uint8_t>> CompressBlock(std::span<const std::uint8_t> raw,
                                                      int compression_level) {
  std::vector<std::uint8_t> frame(ZSTD_compressBound(raw.size()));
  ZSTD_CCtx* context = ThreadContext();
  if (context == nullptr) return util::Fail("Failed to create Zstd block compression context.");
  const std::size_t size = ZSTD_compressCCtx(context, frame.data(), frame.size(), raw.data(),
                                             raw.size(), compression_level);
  if (ZSTD_isError(size)) {
    return util::Fail(std::string("Zstd block compression failed: ") + ZSTD_getErrorName(size));
  }
  frame.resize(size);
  return frame;
}

}  // namespace boardmill::compression
