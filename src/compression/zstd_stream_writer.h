#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>

#include "compression/zstd_context.h"
#include "util/background_syncs.h"
#include "util/byte_digest.h"
#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::compression {

// Writes one file as a single Zstandard frame, compressing whatever bytes it is handed through
// one streaming context and a fixed 1 MiB output buffer.
class ZstdStreamWriter {
 public:
  static constexpr std::size_t kOutputBufferBytes = std::size_t{1} << 20;

  ZstdStreamWriter(std::filesystem::path path, std::int32_t compression_level);
  ~ZstdStreamWriter();
  ZstdStreamWriter(const ZstdStreamWriter&) = delete;
  ZstdStreamWriter& operator=(const ZstdStreamWriter&) = delete;

  // Creates the file (and missing parent directories) and the compression context.
  util::Result<std::uint64_t> Open();
  // Compresses `bytes`, opening the stream first if needed; the value is compressed_bytes().
  util::Result<std::uint64_t> Write(std::span<const std::uint8_t> bytes);
  // Ends the frame, syncs the file to disk and closes it; does nothing on a stream that is not
  // open.
  util::Result<std::uint64_t> Finish();
  // Ends the frame and hands the file to `syncs`, which syncs and closes it while the caller
  // goes on; for writers that end many files in a row.
  util::Result<std::uint64_t> Finish(util::BackgroundSyncs& syncs);

  bool is_open() const { return opened_; }
  std::uint64_t compressed_bytes() const { return compressed_bytes_; }
  double compress_seconds() const { return compress_seconds_; }
  double write_seconds() const { return write_seconds_; }
  // The length and hash of the bytes handed to the file since it was opened.
  const util::ByteDigest& written() const { return written_; }

 private:
  // Runs the compressor over `in` once with `directive` and hands its output to the file. What
  // the compressor has left to flush, 0 when everything is out; `failure` leads a Zstd error.
  util::Result<std::size_t> CompressStep(ZSTD_inBuffer& in, ZSTD_EndDirective directive,
                                         const char* failure);
  util::Result<void> HandToFile(std::size_t size);
  util::Result<void> EndFrame();
  void Close();

  std::filesystem::path path_;
  std::int32_t compression_level_;
  util::UniqueFile file_;
  // Left uninitialised: the compressor writes before anything is read, and untouched pages of
  // the many idle shard buffers then cost no memory.
  std::unique_ptr<std::uint8_t[]> output_;
  ZstdCompressionContext context_;
  bool opened_ = false;
  std::uint64_t compressed_bytes_ = 0;
  double compress_seconds_ = 0.0;
  double write_seconds_ = 0.0;
  util::ByteDigest written_;
};

}  // namespace boardmill::compression
