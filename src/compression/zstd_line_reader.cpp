#include "compression/zstd_line_reader.h"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "compression/zstd_memory.h"
#include "util/stopwatch.h"

namespace boardmill::compression {

namespace {

constexpr std::size_t kCarryReserve = 4096;

// Splits decompressed chunks into lines and delivers them in batches.
class LineBatcher {
 public:
  LineBatcher(std::uint64_t batch_size, const ZstdLineBatchVisitor& visitor,
              ZstdLineReadSummary& summary)
      : batch_size_(batch_size > 1 ? batch_size : 1), visitor_(visitor), summary_(summary) {
    carry_.reserve(kCarryReserve);
    entries_.reserve(batch_size_);
  }

  // Splits one chunk; false in the value means the visitor asked to stop.
  util::Result<bool> SplitChunk(const char* data, std::size_t size) {
    util::Stopwatch split;
    const char* line_start = data;
    const char* const end = data + size;
    while (const void* found = std::memchr(line_start, '\n', end - line_start)) {
      const char* newline = static_cast<const char*>(found);
      AppendPiece(std::string_view(line_start, newline - line_start));
      line_start = newline + 1;
      if (entries_.size() >= batch_size_) {
        summary_.split_seconds += split.ElapsedSeconds();
        util::Result<bool> more = Deliver();
        if (!more || !*more) return more;
        split.Restart();
      }
    }
    carry_.append(line_start, end - line_start);
    summary_.split_seconds += split.ElapsedSeconds();
    // The entries may point into the output buffer, which the next decompression overwrites.
    return Deliver();
  }

  // The unterminated last line, then whatever is still batched.
  util::Result<bool> FinishInput() {
    if (!carry_.empty()) AppendPiece({});
    return Deliver();
  }

 private:
  void AppendPiece(std::string_view piece) {
    if (carry_.empty()) {
      AppendLine(piece);
      return;
    }
    carry_.append(piece);
    stored_lines_.push_back(carry_);
    carry_.clear();
    if (!AppendLine(stored_lines_.back())) stored_lines_.pop_back();
  }

  // Drops one trailing carriage return and skips empty lines; true when the line was appended.
  bool AppendLine(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return false;
    entries_.push_back({line, ++summary_.line_count});
    return true;
  }

  util::Result<bool> Deliver() {
    if (entries_.empty()) return true;
    util::Result<bool> result = visitor_(std::span<const ZstdLineBatchEntry>(entries_));
    entries_.clear();
    stored_lines_.clear();
    return result;
  }

  const std::uint64_t batch_size_;
  const ZstdLineBatchVisitor& visitor_;
  ZstdLineReadSummary& summary_;
  std::string carry_;
  std::vector<ZstdLineBatchEntry> entries_;
  std::deque<std::string> stored_lines_;
};

}  // namespace

std::uint64_t LineReaderMemoryBytes() {
  return 2 * ZstdFileReader::kBufferBytes + DecompressionStreamMemoryBytes(kTypicalWindowBytes);
}

util::Result<ZstdLineReadSummary> ZstdLineReader::Visit(const std::filesystem::path& path,
                                                        std::uint64_t batch_size,
                                                        const ZstdLineBatchVisitor& visitor) {
  if (!visitor) return util::Fail("Line batch visitor must be callable.");
  ZstdLineReadSummary summary;
  LineBatcher batcher(batch_size, visitor, summary);
  ZstdFileReadCounts counts;
  util::Result<bool> read = file_reader_.Visit(
      path,
      [&batcher](std::span<const std::uint8_t> chunk) {
        return batcher.SplitChunk(reinterpret_cast<const char*>(chunk.data()), chunk.size());
      },
      counts);
  if (!read) return std::move(read).TakeError();
  summary.compressed_bytes = counts.compressed_bytes;
  summary.decompressed_bytes = counts.decompressed_bytes;
  summary.read_seconds = counts.read_seconds;
  summary.decompress_seconds = counts.decompress_seconds;
  if (!*read) return summary;
  util::Result<bool> last = batcher.FinishInput();
  if (!last) return std::move(last).TakeError();
  return summary;
}

util::Result<ZstdLineReadSummary> VisitZstdLineBatches(const std::filesystem::path& path,
                                                       std::uint64_t batch_size,
                                                       const ZstdLineBatchVisitor& visitor) {
  return ZstdLineReader().Visit(path, batch_size, visitor);
}

}  // namespace boardmill::compression
