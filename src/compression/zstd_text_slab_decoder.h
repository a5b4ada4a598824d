#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "compression/zstd_context.h"
#include "compression/zstd_text_slab.h"
#include "util/result.h"

namespace boardmill::compression {

// What one `Feed` or `Finish` call produced.
struct ZstdSlabDecodeStats {
  std::uint64_t slabs = 0;
  std::uint64_t bytes = 0;
  // Time spent inside the decompressor during the call.
  double decompress_seconds = 0.0;
};

// Hands out slab buffers; called with the slab size. Lets a pipeline recycle slab memory.
using TextSlabBufferFactory = std::function<std::shared_ptr<std::string>(std::uint64_t)>;

// Receives slabs in order: true continues, false ends the current call, an error aborts it.
using TextSlabVisitor = std::function<util::Result<bool>(ZstdTextSlab&&)>;

// The decompressed size the frame at the start of `compressed` declares in its header; 0 when it
// declares none or the bytes do not start a frame.
std::uint64_t DeclaredContentSize(std::span<const std::uint8_t> compressed);

// Push-style decompressor for one Zstandard file (one or more frames): the caller feeds the
// compressed bytes in order, chunk by chunk, and receives the text as slabs of at most
// `slab_size` bytes, written by the decompressor straight into the buffer that is handed on.
class ZstdTextSlabDecoder {
 public:
  // `slab_size` 0 behaves as 1. Without a factory every slab gets a new string.
  ZstdTextSlabDecoder(std::uint64_t slab_size, TextSlabBufferFactory buffer_factory);

  // Makes the decoder ready for another file, as if it had just been constructed with
  // `slab_size`, but keeps its decompression context and the memory that context holds.
  void Reset(std::uint64_t slab_size);

  // Decompresses one chunk. An empty chunk changes nothing.
  util::Result<ZstdSlabDecodeStats> Feed(std::span<const std::uint8_t> compressed_bytes,
                                         const TextSlabVisitor& visitor);

  // Flushes what the decompressor still holds at the end of the file and fails when the file
  // ended inside a frame.
  util::Result<ZstdSlabDecodeStats> Finish(const TextSlabVisitor& visitor);

 private:
  util::Result<void> CheckReady(const TextSlabVisitor& visitor) const;
  util::Result<ZstdSlabDecodeStats> Decode(std::span<const std::uint8_t> input,
                                           const TextSlabVisitor& visitor);
  util::Result<std::shared_ptr<std::string>> AcquireBuffer() const;

  std::uint64_t slab_size_;
  TextSlabBufferFactory buffer_factory_;
  ZstdDecompressionContext context_;
  std::uint64_t next_sequence_ = 0;
  bool started_ = false;
  bool frame_complete_ = false;
};

}  // namespace boardmill::compression
