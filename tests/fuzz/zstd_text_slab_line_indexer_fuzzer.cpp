// The staged pipeline's text path on input-chosen cuts: a byte stream (valid frames, frames cut
// short or damaged, or raw bytes) is fed chunk by chunk to a ZstdTextSlabDecoder, every slab it
// emits is pushed into a LineIndexer, and both are finished as a file ends. Plain text can also
// go to the indexer directly as slabs. The decoder must give the text (or the failure) that a
// one-shot decode of the whole stream gives, in slabs of 1 to slab-size bytes numbered in order;
// the indexer's batches must hold exactly the lines of that text, with references that stay
// inside their slabs and owned lines, full batches before the last, and totals that add up.
//
// Input layout: mode, slab size, batch size, chunk count, chunk cuts, then for compressed modes
// frame style, frame count, frame cuts and the mode's parameters, then the text.

#include <zstd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compression/line_indexer.h"
#include "compression/zstd_context.h"
#include "compression/zstd_text_slab_decoder.h"
#include "fuzz/expected_lines.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_input.h"
#include "fuzz/reference_zstd.h"

namespace {

using boardmill::compression::ZstdSlabDecodeStats;
using boardmill::compression::ZstdTextSlab;
using boardmill::compression::ZstdTextSlabDecoder;
using boardmill::pipeline::FinishSummary;
using boardmill::pipeline::LineIndexer;
using boardmill::pipeline::PushSummary;
using boardmill::pipeline::TextLineBatch;
using boardmill::pipeline::TextLineReference;
using namespace boardmill::testing;
namespace util = boardmill::util;

enum class Mode { kPlainSlabs, kValid, kTruncated, kDamaged, kRawStream, kCount };

// Bound the work of inputs that decompress to far more than they are (a few bytes can stand for
// a long run): slabs are made no smaller than needed to keep their number below kMaxSlabs, and
// streams that decode to more than kMaxText bytes at once are left alone.
constexpr std::uint64_t kMaxSlabs = 1 << 16;
constexpr std::size_t kMaxText = std::size_t{1} << 25;

std::uint64_t SizeFromByte(std::uint8_t byte) {
  return byte < 0xC0 ? byte % 64 : std::uint64_t{1} << (byte % 24);
}

// The text, lines and totals that come out of the indexer, checked batch by batch.
class IndexerOutput {
 public:
  explicit IndexerOutput(std::uint64_t batch_size)
      : batch_size_(std::max<std::uint64_t>(batch_size, 1)) {}

  util::Result<bool> Take(TextLineBatch&& batch) {
    AbortUnless(!last_batch_was_partial_, "a batch that is not full came before the last one");
    AbortUnless(!batch.references.empty() && batch.references.size() <= batch_size_,
                "a batch is empty or over its size");
    last_batch_was_partial_ = batch.references.size() < batch_size_;
    CheckSlabsAreDistinct(batch);
    std::vector<int> owned_uses(batch.owned_lines.size(), 0);
    std::vector<int> slab_uses(batch.slabs.size(), 0);
    std::uint64_t total = 0;
    for (const TextLineReference& reference : batch.references) {
      std::string_view text;
      if (reference.owned) {
        AbortUnless(reference.index < batch.owned_lines.size() && reference.offset == 0,
                    "an owned line reference is out of range");
        const std::string_view owned = batch.owned_lines[reference.index];
        AbortUnless(reference.length <= owned.size(), "an owned line reference overruns its line");
        // The stored line may keep the carriage return the reference leaves out, nothing more.
        const std::string_view rest = owned.substr(reference.length);
        AbortUnless(rest.empty() || rest == "\r", "an owned line holds more than its line");
        text = owned.substr(0, reference.length);
        ++owned_uses[reference.index];
      } else {
        AbortUnless(reference.index < batch.slabs.size(), "a slab reference is out of range");
        const std::string& slab = *batch.slabs[reference.index];
        AbortUnless(
            reference.offset <= slab.size() && reference.length <= slab.size() - reference.offset,
            "a slab reference overruns its slab");
        text = std::string_view(slab).substr(reference.offset, reference.length);
        ++slab_uses[reference.index];
      }
      total += reference.length;
      lines_.push_back({std::string(text), reference.line_number});
    }
    AbortUnless(total == batch.total_bytes, "total_bytes is not the sum of the line lengths");
    AbortUnless(std::count(owned_uses.begin(), owned_uses.end(), 1) ==
                    static_cast<std::ptrdiff_t>(owned_uses.size()),
                "an owned line is not referenced exactly once");
    AbortUnless(std::count(slab_uses.begin(), slab_uses.end(), 0) == 0,
                "a batch holds a slab none of its lines is in");
    return true;
  }

  void AddPush(const PushSummary& summary) {
    AbortUnless(summary.should_continue, "the indexer stopped though its visitor never asked");
    reported_lines_ += summary.lines;
    reported_bytes_ += summary.bytes;
  }
  void AddFinish(const FinishSummary& summary) {
    AbortUnless(summary.lines <= 1, "Finish reported more than the last line");
    reported_lines_ += summary.lines;
    reported_bytes_ += summary.bytes;
  }

  // The whole file has gone through: the lines are those of `text` and the totals add up.
  void CheckAgainst(std::string_view text) const {
    const std::vector<NumberedLine> expected = ExpectedNumberedLines(text);
    std::uint64_t bytes = 0;
    for (const NumberedLine& line : expected) bytes += line.text.size();
    AbortUnless(lines_ == expected, "the indexed lines are not the lines of the text");
    AbortUnless(reported_lines_ == expected.size() && reported_bytes_ == bytes,
                "the indexer's summaries do not add up to its lines");
  }

 private:
  static void CheckSlabsAreDistinct(const TextLineBatch& batch) {
    std::vector<const std::string*> slabs;
    for (const auto& slab : batch.slabs) {
      AbortUnless(slab != nullptr, "a batch holds a null slab");
      slabs.push_back(slab.get());
    }
    std::sort(slabs.begin(), slabs.end());
    AbortUnless(std::adjacent_find(slabs.begin(), slabs.end()) == slabs.end(),
                "a batch holds the same slab twice");
  }

  std::uint64_t batch_size_;
  bool last_batch_was_partial_ = false;
  std::vector<NumberedLine> lines_;
  std::uint64_t reported_lines_ = 0;
  std::uint64_t reported_bytes_ = 0;
};

// The decompress stage and the line-index stage of one file, joined directly.
class TextPath {
 public:
  TextPath(std::uint64_t slab_size, std::uint64_t batch_size)
      : slab_size_(std::max<std::uint64_t>(slab_size, 1)),
        decoder_(slab_size, nullptr),
        indexer_(batch_size),
        output_(batch_size) {}

  util::Result<void> Feed(std::span<const std::uint8_t> chunk) {
    util::Result<ZstdSlabDecodeStats> stats = decoder_.Feed(chunk, SlabVisitor());
    return Count(std::move(stats));
  }
  util::Result<void> FinishDecoding() { return Count(decoder_.Finish(SlabVisitor())); }

  // Plain text straight to the indexer, as a slab (possibly empty) of its own.
  void PushSlab(std::string_view text) {
    const auto slab = std::make_shared<const std::string>(text);
    text_ += text;
    Push(slab);
  }

  void FinishIndexing() {
    const util::Result<FinishSummary> finished = indexer_.Finish(BatchVisitor());
    AbortUnless(finished.ok(), "the indexer failed to finish");
    output_.AddFinish(*finished);
  }

  const std::string& text() const { return text_; }
  const IndexerOutput& output() const { return output_; }

 private:
  boardmill::compression::TextSlabVisitor SlabVisitor() {
    return [this](ZstdTextSlab&& slab) -> util::Result<bool> {
      AbortUnless(slab.text != nullptr, "a slab has no text");
      AbortUnless(!slab.text->empty() && slab.text->size() <= slab_size_,
                  "a slab is empty or over the slab size");
      AbortUnless(slab.sequence == slabs_, "slab sequence numbers are not 0, 1, 2, ...");
      ++slabs_;
      text_ += *slab.text;
      Push(std::move(slab.text));
      return true;
    };
  }

  boardmill::pipeline::TextLineBatchVisitor BatchVisitor() {
    return [this](TextLineBatch&& batch) { return output_.Take(std::move(batch)); };
  }

  void Push(std::shared_ptr<const std::string> slab) {
    const util::Result<PushSummary> pushed = indexer_.Push(slab, BatchVisitor());
    AbortUnless(pushed.ok(), "the indexer refused a slab");
    output_.AddPush(*pushed);
  }

  util::Result<void> Count(util::Result<ZstdSlabDecodeStats> stats) {
    if (!stats) return std::move(stats).TakeError();
    reported_slabs_ += stats->slabs;
    reported_bytes_ += stats->bytes;
    AbortUnless(reported_slabs_ == slabs_ && reported_bytes_ == text_.size(),
                "the decoder's stats are not the slabs it handed out");
    return {};
  }

  std::uint64_t slab_size_;
  ZstdTextSlabDecoder decoder_;
  LineIndexer indexer_;
  IndexerOutput output_;
  std::string text_;
  std::uint64_t slabs_ = 0;
  std::uint64_t reported_slabs_ = 0;
  std::uint64_t reported_bytes_ = 0;
};

std::vector<std::string_view> Pieces(std::string_view bytes, std::span<const std::uint16_t> words) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (const std::size_t cut : boardmill::testing::CutsFromWords(words, bytes.size())) {
    pieces.push_back(bytes.substr(start, cut - start));
    start = cut;
  }
  pieces.push_back(bytes.substr(start));
  return pieces;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Frames of the payload, then cut short or damaged as the mode says.
std::string BuildStream(Mode mode, FuzzInput& input) {
  if (mode == Mode::kRawStream) return std::string(input.TakeRestAsText());
  const boardmill::testing::FrameStyle style =
      boardmill::testing::FrameStyle::FromByte(input.TakeByte());
  const std::vector<std::uint16_t> frame_words = input.TakeWords(input.TakeByte() % 4);
  const std::uint16_t truncate_at = mode == Mode::kTruncated ? input.TakeWord() : 0;
  std::vector<std::pair<std::uint16_t, std::uint8_t>> damage;
  if (mode == Mode::kDamaged) {
    for (std::size_t count = 1 + input.TakeByte() % 4; count > 0; --count) {
      const std::uint16_t position = input.TakeWord();
      damage.emplace_back(position, input.TakeByte());
    }
  }
  const std::string_view text = input.TakeRestAsText();
  std::string stream = boardmill::testing::CompressFrames(
                           text, boardmill::testing::CutsFromWords(frame_words, text.size()), style)
                           .bytes;
  if (mode == Mode::kTruncated) stream.resize(truncate_at % stream.size());
  for (const auto& [position, value] : damage) {
    stream[position % stream.size()] = static_cast<char>(value);
  }
  return stream;
}

// The message the decoder must fail with where the reference failed.
std::string ExpectedMessage(const boardmill::testing::ReferenceDecode& reference) {
  if (reference.error == "truncated") return boardmill::compression::kTruncatedFrameMessage;
  return "Zstd decompression failed: " + reference.error;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput input(data, size);
  const auto mode = static_cast<Mode>(input.TakeByte() % static_cast<int>(Mode::kCount));
  const std::uint64_t slab_size = SizeFromByte(input.TakeByte());
  const std::uint64_t batch_size = SizeFromByte(input.TakeByte());
  const std::vector<std::uint16_t> chunk_words = input.TakeWords(input.TakeByte() % 16);

  if (mode == Mode::kPlainSlabs) {
    TextPath path(slab_size, batch_size);
    for (const std::string_view slab : Pieces(input.TakeRestAsText(), chunk_words)) {
      path.PushSlab(slab);
    }
    path.FinishIndexing();
    path.output().CheckAgainst(path.text());
    return 0;
  }

  const std::string stream = BuildStream(mode, input);
  const std::vector<std::string_view> chunks = Pieces(stream, chunk_words);
  const std::string_view whole_stream[] = {stream};
  const ReferenceDecode whole = DecodeFrames(whole_stream, ZSTD_DStreamOutSize());
  if (mode == Mode::kValid) AbortUnless(whole.error.empty(), "harness: valid frames fail");
  if (whole.text.size() > kMaxText) return 0;
  const std::uint64_t bound =
      whole.error.empty() ? whole.text.size() : boardmill::testing::DecodedSizeBound(stream);
  const std::uint64_t effective_slab_size = std::max(slab_size, bound / kMaxSlabs);
  // Whole frames, or frames cut short, hold one text however they are cut. How the library reads
  // damaged ones can depend on the pieces and sizes it is handed, so there the reference decodes
  // the same chunks into buffers of the slab size.
  const bool frames_intact = mode == Mode::kValid || mode == Mode::kTruncated;
  const ReferenceDecode expected =
      frames_intact ? whole : DecodeFrames(chunks, std::max<std::uint64_t>(effective_slab_size, 1));

  TextPath path(effective_slab_size, batch_size);
  util::Result<void> decoded = {};
  for (const std::string_view chunk : chunks) {
    decoded = path.Feed(AsBytes(chunk));
    if (!decoded) break;
  }
  if (decoded) decoded = path.FinishDecoding();

  if (!decoded) {
    if (decoded.error() != ExpectedMessage(expected)) {
      boardmill::testing::AbortOnFault("the decoder fails with \"" + decoded.error() +
                                       "\" where the reference gives \"" + expected.error + "\"");
    }
    // What came out before the failure is the start of what the stream holds.
    AbortUnless(expected.text.starts_with(path.text()),
                "the decoder emitted other bytes than the stream holds");
    return 0;
  }
  if (!expected.error.empty()) {
    boardmill::testing::AbortOnFault("the decoder accepts a stream the reference fails on: " +
                                     expected.error);
  }
  AbortUnless(path.text() == expected.text, "the decoded text is not the stream's text");
  path.FinishIndexing();
  path.output().CheckAgainst(path.text());
  return 0;
}
