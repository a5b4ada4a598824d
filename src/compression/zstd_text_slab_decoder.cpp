#include "compression/zstd_text_slab_decoder.h"

#include <zstd.h>

#include <utility>

#include "util/stopwatch.h"

namespace boardmill::compression {
namespace {

// Calls in a row that consume nothing, produce nothing and do not end a frame before the
// decoder declares the stream stuck.
constexpr int kMaxStalledCalls = 4096;

}  // namespace

std::uint64_t DeclaredContentSize(std::span<const std::uint8_t> compressed) {
  const unsigned long long size = ZSTD_getFrameContentSize(compressed.data(), compressed.size());
  return size == ZSTD_CONTENTSIZE_UNKNOWN || size == ZSTD_CONTENTSIZE_ERROR ? 0 : size;
}

ZstdTextSlabDecoder::ZstdTextSlabDecoder(std::uint64_t slab_size,
                                         TextSlabBufferFactory buffer_factory)
    : slab_size_(slab_size == 0 ? 1 : slab_size),
      buffer_factory_(std::move(buffer_factory)),
      context_(ZSTD_createDCtx()) {}

void ZstdTextSlabDecoder::Reset(std::uint64_t slab_size) {
  slab_size_ = slab_size == 0 ? 1 : slab_size;
  if (context_) ZSTD_DCtx_reset(context_.get(), ZSTD_reset_session_only);
  next_sequence_ = 0;
  started_ = false;
  frame_complete_ = false;
}

util::Result<ZstdSlabDecodeStats> ZstdTextSlabDecoder::Feed(
    std::span<const std::uint8_t> compressed_bytes, const TextSlabVisitor& visitor) {
  if (util::Result<void> ready = CheckReady(visitor); !ready) return std::move(ready).TakeError();
  if (compressed_bytes.empty()) return ZstdSlabDecodeStats{};
  started_ = true;
  frame_complete_ = false;
  return Decode(compressed_bytes, visitor);
}

util::Result<ZstdSlabDecodeStats> ZstdTextSlabDecoder::Finish(const TextSlabVisitor& visitor) {
  if (util::Result<void> ready = CheckReady(visitor); !ready) return std::move(ready).TakeError();
  if (!started_ || frame_complete_) return ZstdSlabDecodeStats{};
  util::Result<ZstdSlabDecodeStats> flushed = Decode({}, visitor);
  if (flushed && !frame_complete_) {
    return util::Fail(kTruncatedFrameMessage);
  }
  return flushed;
}

util::Result<void> ZstdTextSlabDecoder::CheckReady(const TextSlabVisitor& visitor) const {
  if (!visitor) return util::Fail("Text slab visitor must be callable.");
  if (!context_) return util::Fail("Failed to create a Zstd decompression context.");
  return {};
}

util::Result<std::shared_ptr<std::string>> ZstdTextSlabDecoder::AcquireBuffer() const {
  std::shared_ptr<std::string> buffer =
      buffer_factory_ ? buffer_factory_(slab_size_) : std::make_shared<std::string>();
  if (!buffer) return util::Fail("Text slab factory returned a null buffer.");
  buffer->resize(slab_size_);
  return buffer;
}

util::Result<ZstdSlabDecodeStats> ZstdTextSlabDecoder::Decode(std::span<const std::uint8_t> input,
                                                              const TextSlabVisitor& visitor) {
  ZstdSlabDecodeStats stats;
  ZSTD_inBuffer source{input.data(), input.size(), 0};
  int stalled_calls = 0;
  // A buffer that received nothing is kept for the next call instead of being acquired again.
  std::shared_ptr<std::string> buffer;
  for (;;) {
    if (!buffer) {
      util::Result<std::shared_ptr<std::string>> acquired = AcquireBuffer();
      if (!acquired) return std::move(acquired).TakeError();
      buffer = std::move(*acquired);
    }
    ZSTD_outBuffer target{buffer->data(), buffer->size(), 0};
    const std::size_t consumed_before = source.pos;
    const util::Stopwatch call_time;
    const std::size_t status = ZSTD_decompressStream(context_.get(), &target, &source);
    stats.decompress_seconds += call_time.ElapsedSeconds();
    if (ZSTD_isError(status)) {
      return util::Fail(std::string("Zstd decompression failed: ") + ZSTD_getErrorName(status));
    }
    frame_complete_ = status == 0;
    const bool produced = target.pos > 0;
    if (source.pos == consumed_before && !produced && !frame_complete_) {
      if (++stalled_calls == kMaxStalledCalls) {
        return util::Fail("Zstd decompression stalled before the frame was fully decoded.");
      }
    } else {
      stalled_calls = 0;
    }
    if (produced) {
      buffer->resize(target.pos);
      util::Result<bool> verdict =
          visitor(ZstdTextSlab{std::exchange(buffer, nullptr), next_sequence_++});
      if (!verdict) return std::move(verdict).TakeError();
      ++stats.slabs;
      stats.bytes += target.pos;
      if (!*verdict) return stats;
    }
    // Input left after a frame has ended belongs to the file's next frame.
    if (source.pos < source.size) continue;
    // With all input taken, a call that leaves room in its buffer means the decompressor holds
    // nothing more until the next chunk. Asking it again would only make no progress, which
    // the library itself turns into an error after a few calls.
    if (frame_complete_ || target.pos < target.size) return stats;
  }
}

}  // namespace boardmill::compression
