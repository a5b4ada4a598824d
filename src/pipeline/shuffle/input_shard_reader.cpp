#include "pipeline/shuffle/input_shard_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <string>

#include "chess/packed_sfen.h"
#include "compression/zstd_memory.h"
#include "util/byte_digest.h"
#include "util/unique_descriptor.h"

namespace boardmill::shuffle {

namespace {

constexpr std::size_t kRecordBytes = chess::kPackedSfenSize;

util::Result<void> CheckAgainstIndex(const InputShard& shard, const InputShardDigest& digest) {
  if (!shard.listed) return {};
  if (digest.bytes != shard.listed->bytes) {
    return util::Fail("Input shard size differs from its shard index: " + shard.path.string());
  }
  if (digest.xxh64 != shard.listed->xxh64) {
    return util::Fail("Input shard hash differs from its shard index: " + shard.path.string());
  }
  if (digest.records != shard.listed->records) {
    return util::Fail("Input shard record count differs from its shard index: " +
                      shard.path.string());
  }
  return {};
}

}  // namespace

InputShardReader::InputShardReader()
    : context_(ZSTD_createDCtx()),
      stored_(new std::uint8_t[kBufferBytes]),
      content_(new std::uint8_t[kBufferBytes]) {
  // The memory plan counts a window of kTypicalWindowBytes; a frame asking for more is refused
  // rather than allowed past the ceiling.
  if (context_) {
    ZSTD_DCtx_setParameter(context_.get(), ZSTD_d_windowLogMax,
                           std::bit_width(compression::kTypicalWindowBytes) - 1);
  }
}

util::Result<InputShardDigest> InputShardReader::Read(const InputShard& shard,
                                                      const RecordBytesVisitor& visit) {
  // Non-blocking, so that a FIFO put in a shard's place is refused at once instead of waited on.
  const util::UniqueDescriptor file(::open(shard.path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    return util::Fail("Failed to open input shard " + shard.path.string() + ": " +
                      std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return util::Fail("Input shard is not a regular file: " + shard.path.string());
  }
  if (!context_) return util::Fail("Failed to create a Zstd decompression context.");
  ZSTD_DCtx_reset(context_.get(), ZSTD_reset_session_only);
  util::Result<InputShardDigest> digest = Stream(shard, file.get(), visit);
  if (!digest) return digest;
  util::Result<void> checked = CheckAgainstIndex(shard, *digest);
  if (!checked) return std::move(checked).TakeError();
  return digest;
}

util::Result<InputShardDigest> InputShardReader::Stream(const InputShard& shard, int descriptor,
                                                        const RecordBytesVisitor& visit) {
  const std::string damaged = "Failed to decode input shard " + shard.path.string() + ": ";
  util::ByteDigest stored;
  std::size_t carried = 0;  // bytes of a record cut by the end of the content buffer
  std::size_t frame_status = 0;
  std::uint64_t records = 0;
  for (;;) {
    const ssize_t read = ::read(descriptor, stored_.get(), kBufferBytes);
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) return util::Fail("Failed while reading input shard: " + shard.path.string());
    if (read == 0) break;
    const std::span<const std::uint8_t> piece(stored_.get(), static_cast<std::size_t>(read));
    stored.Add(piece);
    if (on_bytes_read) on_bytes_read(piece.size());
    ZSTD_inBuffer in{piece.data(), piece.size(), 0};
    while (in.pos < in.size) {
      ZSTD_outBuffer out{content_.get() + carried, kBufferBytes - carried, 0};
      frame_status = ZSTD_decompressStream(context_.get(), &out, &in);
      if (ZSTD_isError(frame_status)) {
        return util::Fail(damaged + ZSTD_getErrorName(frame_status));
      }
      const std::size_t filled = carried + out.pos;
      const std::size_t whole = filled - filled % kRecordBytes;
      if (whole != 0) {
        records += whole / kRecordBytes;
        util::Result<void> taken = visit({content_.get(), whole});
        if (!taken) return std::move(taken).TakeError();
      }
      carried = filled - whole;
      std::memmove(content_.get(), content_.get() + whole, carried);
    }
  }
  if (frame_status != 0) return util::Fail(damaged + compression::kTruncatedFrameMessage);
  if (carried != 0) {
    return util::Fail("Input shard is not a whole number of PackedSfen records: " +
                      shard.path.string());
  }
  return InputShardDigest{.records = records, .bytes = stored.bytes(), .xxh64 = stored.Hash()};
}

}  // namespace boardmill::shuffle
