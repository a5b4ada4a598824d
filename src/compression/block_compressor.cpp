#include "compression/block_compressor.h"

#include <zstd.h>

#include "compression/zstd_context.h"

namespace boardmill::compression {
namespace {

// Created on the thread's first block and freed when the thread exits; never shared.
thread_local ZstdCompressionContext thread_context;
// Where the thread compresses its blocks before they are copied out; it only grows, so a thread
// that keeps compressing blocks of one size allocates it once.
thread_local std::vector<std::uint8_t> thread_frame_buffer;

ZSTD_CCtx* ThreadContext() {
  if (!thread_context) thread_context.reset(ZSTD_createCCtx());
  return thread_context.get();
}

}  // namespace

util::Result<std::uint64_t> AppendCompressedBlock(std::span<const std::uint8_t> raw,
                                                  int compression_level,
                                                  std::vector<std::uint8_t>& output) {
  ZSTD_CCtx* context = ThreadContext();
  if (context == nullptr) return util::Fail("Failed to create Zstd block compression context.");
  const std::size_t bound = ZSTD_compressBound(raw.size());
  if (thread_frame_buffer.size() < bound) thread_frame_buffer.resize(bound);
  const std::size_t size = ZSTD_compressCCtx(context, thread_frame_buffer.data(), bound, raw.data(),
                                             raw.size(), compression_level);
  if (ZSTD_isError(size)) return ZstdError("Zstd block compression failed: ", size);
  output.insert(output.end(), thread_frame_buffer.begin(),
                thread_frame_buffer.begin() + static_cast<std::ptrdiff_t>(size));
  return std::uint64_t{size};
}

}  // namespace boardmill::compression
