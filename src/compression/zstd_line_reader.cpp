#include "compression/zstd_line_reader.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "compression/zstd_context.h"
#include "compression/zstd_memory.h"
#include "util/stopwatch.h"
#include "util/unique_file.h"

namespace boardmill::compression {

namespace {

constexpr std::size_t kBufferSize = 1 << 20;
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
  return 2 * kBufferSize + DecompressionStreamMemoryBytes(kTypicalWindowBytes);
}

ZstdLineReader::ZstdLineReader() : input_(new char[kBufferSize]), output_(new char[kBufferSize]) {}

util::Result<ZstdLineReadSummary> ZstdLineReader::Visit(const std::filesystem::path& path,
                                                        std::uint64_t batch_size,
                                                        const ZstdLineBatchVisitor& visitor) {
  if (!visitor) return util::Fail("Line batch visitor must be callable.");
  const util::UniqueFile file(std::fopen(path.c_str(), "rb"));
  if (!file) return util::Fail("Failed to open input file: " + path.string());
  if (!context_) context_.reset(ZSTD_createDCtx());
  if (!context_) return util::Fail("Failed to create a Zstd decompression context.");
  // A file that failed part way leaves its frame half decoded in the context.
  ZSTD_DCtx_reset(context_.get(), ZSTD_reset_session_only);

  ZstdLineReadSummary summary;
  LineBatcher batcher(batch_size, visitor, summary);
  bool frame_complete = true;

  for (;;) {
    util::Stopwatch read_clock;
    const std::size_t read = std::fread(input_.get(), 1, kBufferSize, file.get());
    summary.read_seconds += read_clock.ElapsedSeconds();
    if (read == 0) {
      if (std::ferror(file.get())) {
        return util::Fail("Failed while reading input file: " + path.string());
      }
      break;
    }
    summary.compressed_bytes += read;

    ZSTD_inBuffer in{input_.get(), read, 0};
    // Keep going while input remains or the output filled up: a full output buffer may leave
    // decoded bytes inside the decompressor, which must be drained before the next read.
    bool output_full = false;
    while (in.pos < in.size || output_full) {
      ZSTD_outBuffer out{output_.get(), kBufferSize, 0};
      const std::size_t input_before = in.pos;
      util::Stopwatch decompress_clock;
      const std::size_t status = ZSTD_decompressStream(context_.get(), &out, &in);
      summary.decompress_seconds += decompress_clock.ElapsedSeconds();
      if (ZSTD_isError(status)) {
        return util::Fail(std::string("Zstd decompression failed: ") + ZSTD_getErrorName(status));
      }
      // A draining call after a frame ended exactly on a full buffer finds nothing to do, and
      // the library then answers with the size of a next frame's header; only a call that did
      // something tells whether the frame is complete.
      if (in.pos != input_before || out.pos != 0) frame_complete = status == 0;
      output_full = out.pos == out.size;
      summary.decompressed_bytes += out.pos;
      util::Result<bool> more = batcher.SplitChunk(output_.get(), out.pos);
      if (!more) return std::move(more).TakeError();
      if (!*more) return summary;
    }
  }

  if (!frame_complete) return util::Fail(kTruncatedFrameMessage);
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
