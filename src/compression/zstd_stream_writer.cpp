#include "compression/zstd_stream_writer.h"

#include <string>

#include "util/file_sync.h"
#include "util/output_file.h"
#include "util/stopwatch.h"

namespace boardmill::compression {

ZstdStreamWriter::ZstdStreamWriter(std::filesystem::path path, std::int32_t compression_level)
    : path_(std::move(path)),
      compression_level_(compression_level),
      output_(new std::uint8_t[kOutputBufferBytes]) {}

ZstdStreamWriter::~ZstdStreamWriter() {
  if (opened_) (void)Finish();
}

util::Result<std::uint64_t> ZstdStreamWriter::Open() {
  util::Result<void> made = util::CreateParentDirectories(path_);
  if (!made) return util::Fail("Failed to create output directory: " + made.error());
  file_ = util::CreateOutputFile(path_);
  if (!file_) return util::Fail("Failed to open output file: " + path_.string());
  context_.reset(ZSTD_createCCtx());
  if (!context_) {
    file_.reset();
    return util::Fail("Failed to create a Zstd compression context.");
  }
  const std::size_t status =
      ZSTD_CCtx_setParameter(context_.get(), ZSTD_c_compressionLevel, compression_level_);
  if (ZSTD_isError(status)) {
    Close();
    return ZstdError("Failed to configure Zstd compression level: ", status);
  }
  compressed_bytes_ = 0;
  written_.Reset();
  compress_seconds_ = 0.0;
  write_seconds_ = 0.0;
  opened_ = true;
  return std::uint64_t{0};
}

util::Result<std::uint64_t> ZstdStreamWriter::Write(std::span<const std::uint8_t> bytes) {
  if (!opened_) {
    util::Result<std::uint64_t> opened = Open();
    if (!opened) return opened;
  }
  ZSTD_inBuffer in{bytes.data(), bytes.size(), 0};
  while (in.pos < in.size) {
    util::Result<std::size_t> stepped =
        CompressStep(in, ZSTD_e_continue, "Zstd compression failed: ");
    if (!stepped) return std::move(stepped).TakeError();
  }
  return compressed_bytes_;
}

util::Result<std::uint64_t> ZstdStreamWriter::Finish() {
  if (!opened_) return compressed_bytes_;
  util::Result<void> ended = EndFrame();
  if (!ended) return std::move(ended).TakeError();
  // On disk before the caller can vouch for it.
  util::Result<void> synced = util::SyncFile(file_.get(), path_);
  if (!synced) return std::move(synced).TakeError();
  // Some file systems report a failed write only when the file is closed; a shard whose tail
  // was lost there must not pass as finished.
  const bool closed = std::fclose(file_.release()) == 0;
  Close();
  if (!closed) return util::Fail("Failed to close output file: " + path_.string());
  return compressed_bytes_;
}

util::Result<std::uint64_t> ZstdStreamWriter::Finish(util::BackgroundSyncs& syncs) {
  if (!opened_) return compressed_bytes_;
  util::Result<void> ended = EndFrame();
  if (!ended) return std::move(ended).TakeError();
  syncs.Add(std::move(file_), path_);
  Close();
  return compressed_bytes_;
}

util::Result<void> ZstdStreamWriter::EndFrame() {
  for (;;) {
    ZSTD_inBuffer in{nullptr, 0, 0};
    util::Result<std::size_t> remaining =
        CompressStep(in, ZSTD_e_end, "Zstd finalization failed: ");
    if (!remaining) return std::move(remaining).TakeError();
    if (*remaining == 0) return {};
  }
}

util::Result<std::size_t> ZstdStreamWriter::CompressStep(ZSTD_inBuffer& in,
                                                         ZSTD_EndDirective directive,
                                                         const char* failure) {
  ZSTD_outBuffer out{output_.get(), kOutputBufferBytes, 0};
  util::Stopwatch clock;
  const std::size_t remaining = ZSTD_compressStream2(context_.get(), &out, &in, directive);
  compress_seconds_ += clock.ElapsedSeconds();
  if (ZSTD_isError(remaining)) return ZstdError(failure, remaining);
  util::Result<void> handed = HandToFile(out.pos);
  if (!handed) return std::move(handed).TakeError();
  return remaining;
}

util::Result<void> ZstdStreamWriter::HandToFile(std::size_t size) {
  if (size == 0) return {};
  util::Stopwatch clock;
  const std::size_t written = std::fwrite(output_.get(), 1, size, file_.get());
  write_seconds_ += clock.ElapsedSeconds();
  if (written != size) return util::Fail("Failed to write compressed output: " + path_.string());
  compressed_bytes_ += size;
  written_.Add({output_.get(), size});
  return {};
}

void ZstdStreamWriter::Close() {
  file_.reset();
  context_.reset();
  opened_ = false;
}

}  // namespace boardmill::compression
