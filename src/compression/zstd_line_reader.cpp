#include "compression/zstd_line_reader.h"

#include <deque>
#include <string>
#include <vector>

#include "compression/line_splitter.h"
#include "compression/zstd_memory.h"
#include "util/stopwatch.h"

namespace boardmill::compression {

namespace {

// Splits decompressed chunks into lines and delivers them in batches.
class LineBatcher {
 public:
  LineBatcher(std::uint64_t batch_size, const ZstdLineBatchVisitor& visitor,
              ZstdLineReadSummary& summary)
      : batch_size_(batch_size > 1 ? batch_size : 1), visitor_(visitor), summary_(summary) {
    entries_.reserve(batch_size_);
  }

  // Splits one chunk; false in the value means the visitor asked to stop.
  util::Result<bool> SplitChunk(const char* data, std::size_t size) {
    util::Stopwatch split;
    util::Result<bool> more = splitter_.Split(
        std::string_view(data, size),
        [&](std::string_view line, std::uint64_t number) {
          return AppendLine(line, number, split);
        },
        [&](std::string&& line, std::uint64_t number) {
          return AppendLine(stored_lines_.emplace_back(std::move(line)), number, split);
        });
    summary_.split_seconds += split.ElapsedSeconds();
    if (!more || !*more) return more;
    // The entries may point into the output buffer, which the next decompression overwrites.
    return Deliver();
  }

  // The unterminated last line, then whatever is still batched.
  util::Result<bool> FinishInput() {
    util::Stopwatch split;
    util::Result<bool> more = splitter_.Finish([&](std::string&& line, std::uint64_t number) {
      return AppendLine(stored_lines_.emplace_back(std::move(line)), number, split);
    });
    if (!more || !*more) return more;
    return Deliver();
  }

 private:
  // Batches one line and delivers the batch when it is full, the delivery not counted as
  // splitting time.
  util::Result<bool> AppendLine(std::string_view line, std::uint64_t number,
                                util::Stopwatch& split) {
    entries_.push_back({line, number});
    summary_.line_count = number;
    if (entries_.size() < batch_size_) return true;
    summary_.split_seconds += split.ElapsedSeconds();
    util::Result<bool> more = Deliver();
    split.Restart();
    return more;
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
  LineSplitter splitter_;
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
