#include "library/shard_records.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "chess/packed_sfen.h"
#include "compression/zstd_context.h"

namespace boardmill::library {

namespace {

// Closes the descriptor on every exit path.
class FileDescriptor {
 public:
  explicit FileDescriptor(int descriptor) : descriptor_(descriptor) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

util::Result<void> ReadStoredBytes(const std::filesystem::path& path,
                                   util::UninitializedBytes& bytes) {
  // Non-blocking, so that opening a FIFO put in a shard's place returns at once to be refused.
  const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    return util::Fail("Failed to open shard file " + path.string() + ": " + std::strerror(errno));
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
    return util::Fail("Shard is not a regular file: " + path.string());
  }
  bytes.resize(static_cast<std::size_t>(status.st_size));
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    const ssize_t read = ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) return util::Fail("Failed while reading shard file: " + path.string());
    filled += static_cast<std::size_t>(read);
  }
  return {};
}

util::Result<void> CheckStoredBytes(const DatasetShard& shard,
                                    const util::UninitializedBytes& stored) {
  if (stored.size() != shard.listed->bytes) {
    return util::Fail("Shard file size differs from the shard index: " + shard.path.string());
  }
  if (XXH64(stored.data(), stored.size(), 0) != shard.listed->xxh64) {
    return util::Fail("Shard file hash differs from the shard index: " + shard.path.string());
  }
  return {};
}

// `expected_bytes`, when known from the index, sizes the output at once: growing it by doubling
// costs a copy and a fill of every byte several times over, more than the decompression itself.
// One byte more than expected, so that content beyond it still shows without a second buffer.
util::Result<void> Decompress(const util::UninitializedBytes& stored, std::size_t expected_bytes,
                              compression::ZstdDecompressionContext& context,
                              util::UninitializedBytes& content) {
  if (!context) context.reset(ZSTD_createDCtx());
  if (!context) return util::Fail("Failed to create a Zstd decompression context.");
  // A shard that failed may have left a frame half done.
  ZSTD_DCtx_reset(context.get(), ZSTD_reset_session_only);
  content.resize(expected_bytes != 0 ? expected_bytes + 1 : ZSTD_DStreamOutSize());
  ZSTD_inBuffer in{stored.data(), stored.size(), 0};
  ZSTD_outBuffer out{content.data(), content.size(), 0};
  std::size_t status = 0;
  while (in.pos < in.size || out.pos == out.size) {
    if (out.pos == out.size) {
      content.resize(content.size() * 2);
      out = {content.data(), content.size(), out.pos};
    }
    const std::size_t before = in.pos + out.pos;
    status = ZSTD_decompressStream(context.get(), &out, &in);
    if (ZSTD_isError(status)) return compression::ZstdError("Zstd decompression failed: ", status);
    if (in.pos + out.pos == before) break;  // nothing moved: the input ends inside a frame
  }
  if (status != 0) return util::Fail(compression::kTruncatedFrameMessage);
  content.resize(out.pos);
  return {};
}

}  // namespace

util::Result<void> ReadShardRecords(const DatasetShard& shard, bool verify, ShardBuffers& buffers) {
  const util::Result<void> read = ReadStoredBytes(shard.path, buffers.stored);
  if (!read) return util::Fail(read.error());
  if (verify) {
    util::Result<void> checked = CheckStoredBytes(shard, buffers.stored);
    if (!checked) return std::move(checked).TakeError();
  }
  // The index's count is only a hint here (it is checked below): a damaged one must not make
  // the reader ask for more memory than the stored bytes could plausibly inflate to.
  const std::size_t listed_bytes =
      shard.listed ? static_cast<std::size_t>(shard.listed->records) * chess::kPackedSfenSize : 0;
  const std::size_t expected_bytes = std::min(listed_bytes, buffers.stored.size() * 64);
  const util::Result<void> inflated =
      Decompress(buffers.stored, expected_bytes, buffers.context, buffers.records);
  if (!inflated) {
    return util::Fail("Failed to read shard " + shard.path.string() + ": " + inflated.error());
  }
  const util::UninitializedBytes& records = buffers.records;
  if (records.size() % chess::kPackedSfenSize != 0) {
    return util::Fail("Shard payload is not a whole number of PackedSfen records: " +
                      shard.path.string());
  }
  if (shard.listed && records.size() / chess::kPackedSfenSize != shard.listed->records) {
    return util::Fail("Shard record count differs from the shard index: " + shard.path.string());
  }
  return {};
}

}  // namespace boardmill::library
