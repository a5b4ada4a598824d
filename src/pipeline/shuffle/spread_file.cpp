#include "pipeline/shuffle/spread_file.h"

#include <fcntl.h>
#include <unistd.h>
#include <zstd.h>

#include <array>
#include <cstdio>

#include "util/unique_descriptor.h"

namespace boardmill::shuffle {

namespace {

namespace fs = std::filesystem;

// "BMSPRD01" as a little-endian word: the footer's last word, so that a file cut short or from
// elsewhere is never read as a spread file.
constexpr std::uint64_t kFooterMagic = 0x3130445250534d42ULL;

// The footer's tail: block count, the input's records, bytes and hash, the magic word.
constexpr std::size_t kTailWords = 5;
constexpr std::size_t kBlockWords = 4;

util::Error Damaged(const fs::path& path) {
  return util::Fail("Scratch file is damaged: " + path.string());
}

// Reads exactly `size` bytes at `offset`.
bool ReadAt(int descriptor, void* data, std::size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t read = ::pread(descriptor, bytes, size, static_cast<off_t>(offset));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) return false;
    bytes += read;
    size -= static_cast<std::size_t>(read);
    offset += static_cast<std::uint64_t>(read);
  }
  return true;
}

}  // namespace

std::string SpreadFileName(std::uint64_t input_sequence) {
  char name[32];
  std::snprintf(name, sizeof name, "input-%06llu.spread",
                static_cast<unsigned long long>(input_sequence));
  return name;
}

SpreadFileWriter::SpreadFileWriter(std::int32_t level)
    : level_(level), context_(ZSTD_createCCtx()) {}

util::Result<void> SpreadFileWriter::Open(const fs::path& path) {
  if (!context_) return util::Fail("Failed to create a Zstd compression context.");
  path_ = path;
  blocks_.clear();
  offset_ = 0;
  if (!file_.Open(path)) return util::Fail("Failed to open scratch file: " + path.string());
  return {};
}

util::Result<void> SpreadFileWriter::AppendBlock(std::uint64_t shard,
                                                 std::span<const ShuffleEntry> entries) {
  const std::size_t raw = entries.size_bytes();
  compressed_.resize(ZSTD_compressBound(raw));
  const std::size_t size = ZSTD_compressCCtx(context_.get(), compressed_.data(), compressed_.size(),
                                             entries.data(), raw, level_);
  if (ZSTD_isError(size)) return compression::ZstdError("Zstd compression failed: ", size);
  util::Result<void> written = WriteBytes(compressed_.data(), size);
  if (!written) return written;
  blocks_.push_back({shard, offset_, size, entries.size()});
  offset_ += size;
  return {};
}

util::Result<std::uint64_t> SpreadFileWriter::Commit(const InputShardDigest& input) {
  for (const SpreadBlock& block : blocks_) {
    const std::array<std::uint64_t, kBlockWords> words = {block.shard, block.offset, block.bytes,
                                                          block.entries};
    util::Result<void> written = WriteBytes(words.data(), sizeof words);
    if (!written) return std::move(written).TakeError();
  }
  const std::array<std::uint64_t, kTailWords> tail = {blocks_.size(), input.records, input.bytes,
                                                      input.xxh64, kFooterMagic};
  util::Result<void> written = WriteBytes(tail.data(), sizeof tail);
  if (!written) return std::move(written).TakeError();
  if (file_.Finish() != util::PartialFile::Commit::kCommitted) {
    return util::Fail("Failed to write scratch file: " + path_.string());
  }
  return offset_ + blocks_.size() * sizeof(std::uint64_t) * kBlockWords + sizeof tail;
}

util::Result<void> SpreadFileWriter::WriteBytes(const void* data, std::size_t size) {
  if (std::fwrite(data, 1, size, file_.get()) != size) {
    return util::Fail("Failed to write scratch file: " + path_.string());
  }
  return {};
}

util::Result<SpreadFooter> ReadSpreadFooter(const fs::path& path) {
  const util::UniqueDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!file) return util::Fail("Failed to open scratch file: " + path.string());
  const off_t end = ::lseek(file.get(), 0, SEEK_END);
  std::array<std::uint64_t, kTailWords> tail{};
  if (end < static_cast<off_t>(sizeof tail) ||
      !ReadAt(file.get(), tail.data(), sizeof tail,
              static_cast<std::uint64_t>(end) - sizeof tail) ||
      tail[4] != kFooterMagic) {
    return Damaged(path);
  }
  const std::uint64_t table_bytes = tail[0] * kBlockWords * sizeof(std::uint64_t);
  const std::uint64_t data_end = static_cast<std::uint64_t>(end) - sizeof tail;
  if (tail[0] > data_end / (kBlockWords * sizeof(std::uint64_t))) return Damaged(path);
  SpreadFooter footer{.blocks = std::vector<SpreadBlock>(tail[0]),
                      .input = {.records = tail[1], .bytes = tail[2], .xxh64 = tail[3]}};
  std::vector<std::uint64_t> words(tail[0] * kBlockWords);
  if (!ReadAt(file.get(), words.data(), table_bytes, data_end - table_bytes)) return Damaged(path);
  for (std::size_t i = 0; i < footer.blocks.size(); ++i) {
    const std::uint64_t* block = &words[i * kBlockWords];
    footer.blocks[i] = {block[0], block[1], block[2], block[3]};
    if (block[1] > data_end - table_bytes || block[2] > data_end - table_bytes - block[1] ||
        block[3] > kMostBlockEntries) {
      return Damaged(path);
    }
  }
  return footer;
}

SpreadBlockReader::SpreadBlockReader() : context_(ZSTD_createDCtx()) {}

util::Result<void> SpreadBlockReader::Read(const fs::path& path, const SpreadBlock& block,
                                           std::vector<ShuffleEntry>& entries) {
  if (!context_) return util::Fail("Failed to create a Zstd decompression context.");
  // The blocks of a shard come file after file, so one open serves several.
  if (path != open_path_) {
    file_.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    open_path_ = path;
  }
  compressed_.resize(block.bytes);
  if (!file_ || !ReadAt(file_.get(), compressed_.data(), block.bytes, block.offset)) {
    return util::Fail("Failed to read scratch file: " + path.string());
  }
  entries.resize(block.entries);
  const std::size_t size =
      ZSTD_decompressDCtx(context_.get(), entries.data(), entries.size() * sizeof(ShuffleEntry),
                          compressed_.data(), compressed_.size());
  if (ZSTD_isError(size) || size != entries.size() * sizeof(ShuffleEntry)) return Damaged(path);
  return {};
}

}  // namespace boardmill::shuffle
