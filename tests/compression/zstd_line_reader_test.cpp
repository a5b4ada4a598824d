#include "compression/zstd_line_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compression/line_splitter.h"
#include "compression/zstd_file_decompressor.h"
#include "test_support.h"

namespace boardmill::compression {
namespace {

using namespace boardmill::testing;

constexpr char kTruncated[] = "Zstd decompression ended before the frame was fully decoded.";
constexpr std::size_t kMiB = 1 << 20;

struct Line {
  std::string text;
  std::uint64_t number = 0;
  friend bool operator==(const Line&, const Line&) = default;
};

// Everything a read handed to its visitor, batch by batch, copied while the views are valid.
struct Recording {
  std::vector<std::vector<Line>> batches;

  std::vector<Line> Lines() const {
    std::vector<Line> all;
    for (const auto& batch : batches) all.insert(all.end(), batch.begin(), batch.end());
    return all;
  }
  std::vector<std::size_t> BatchSizes() const {
    std::vector<std::size_t> sizes;
    for (const auto& batch : batches) sizes.push_back(batch.size());
    return sizes;
  }
};

// A visitor that records every batch and answers `answer` to batch number `stop_at` (1-based;
// 0 never stops).
ZstdLineBatchVisitor Recorder(Recording& recording, std::size_t stop_at = 0,
                              util::Result<bool> answer = false) {
  return [&recording, stop_at, answer](std::span<const ZstdLineBatchEntry> batch) {
    std::vector<Line> copied;
    for (const ZstdLineBatchEntry& entry : batch) {
      copied.push_back({std::string(entry.text), entry.line_number});
    }
    recording.batches.push_back(std::move(copied));
    if (recording.batches.size() == stop_at) return answer;
    return util::Result<bool>(true);
  };
}

std::vector<Line> NumberedLines(const std::vector<std::string>& texts) {
  std::vector<Line> lines;
  for (const std::string& text : texts) lines.push_back({text, lines.size() + 1});
  return lines;
}

// Lines "line-000000 ..." padded to `width` bytes, newline included, `count` of them.
std::string FixedWidthLines(std::size_t count, std::size_t width) {
  std::string text;
  text.reserve(count * width);
  for (std::size_t i = 0; i < count; ++i) {
    std::string line = "line-" + std::to_string(i) + " ";
    line.resize(width - 1, 'x');
    text += line + '\n';
  }
  return text;
}

class ZstdLineReaderTest : public ::testing::Test {
 protected:
  // Writes `text` as one frame and reads it back with batches of `batch_size`.
  util::Result<ZstdLineReadSummary> Read(const std::string& text, std::uint64_t batch_size,
                                         Recording& recording, std::size_t stop_at = 0,
                                         util::Result<bool> answer = false) {
    WriteZstdFile(path_, text);
    return VisitZstdLineBatches(path_, batch_size, Recorder(recording, stop_at, answer));
  }

  TempDir dir_;
  const std::filesystem::path path_ = dir_ / "input.fen.zst";
};

TEST_F(ZstdLineReaderTest, DropsEmptyAndCarriageReturnOnlyLinesAndDeliversTheUnterminatedLast) {
  Recording recording;
  const auto summary = Read("a\r\nb\n\n\r\nc", 16, recording);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(recording.Lines(), NumberedLines({"a", "b", "c"}));
  EXPECT_EQ(summary->line_count, 3U);
  EXPECT_EQ(summary->decompressed_bytes, 9U);
  EXPECT_EQ(summary->compressed_bytes, std::filesystem::file_size(path_));
}

TEST_F(ZstdLineReaderTest, RemovesOnlyOneCarriageReturnBeforeTheNewline) {
  Recording recording;
  const auto summary = Read("x\r\r\nin\rside\n\r\r\n", 16, recording);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(recording.Lines(), NumberedLines({"x\r", "in\rside", "\r"}));
}

TEST_F(ZstdLineReaderTest, CarriageReturnEndingTheUnterminatedLastLineIsDropped) {
  Recording recording;
  const auto summary = Read("first\nlast\r", 16, recording);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(recording.Lines(), NumberedLines({"first", "last"}));
}

TEST_F(ZstdLineReaderTest, EmptyFileSucceedsWithoutCallingTheVisitor) {
  WriteFile(path_, "");
  Recording recording;
  const auto summary = VisitZstdLineBatches(path_, 4, Recorder(recording));
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_TRUE(recording.batches.empty());
  EXPECT_EQ(summary->line_count, 0U);
  EXPECT_EQ(summary->compressed_bytes, 0U);
}

TEST_F(ZstdLineReaderTest, FrameOfOnlyBlankLinesSucceedsWithoutCallingTheVisitor) {
  Recording recording;
  const auto summary = Read("\n\r\n\n", 4, recording);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_TRUE(recording.batches.empty());
  EXPECT_EQ(summary->decompressed_bytes, 4U);
}

TEST_F(ZstdLineReaderTest, BatchSizesCutOneChunkIntoFullBatchesAndARemainder) {
  const std::string five = "1\n2\n3\n4\n5\n";
  for (const std::uint64_t batch_size : {0, 1, 2, 3, 5, 100}) {
    SCOPED_TRACE(batch_size);
    Recording recording;
    const auto summary = Read(five, batch_size, recording);
    ASSERT_TRUE(summary.ok()) << summary.error();
    EXPECT_EQ(recording.Lines(), NumberedLines({"1", "2", "3", "4", "5"}));
    const std::size_t effective = batch_size > 1 ? batch_size : 1;
    for (std::size_t i = 0; i < recording.batches.size(); ++i) {
      const std::size_t expected = std::min(effective, 5 - i * effective);
      EXPECT_EQ(recording.batches[i].size(), expected) << "batch " << i;
    }
  }
}

TEST_F(ZstdLineReaderTest, VisitorStoppingOnTheFirstBatchEndsTheReadWithItsLinesCounted) {
  Recording recording;
  const auto summary = Read("1\n2\n3\n4\n5\n", 2, recording, 1, false);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(recording.BatchSizes(), std::vector<std::size_t>({2}));
  EXPECT_EQ(summary->line_count, 2U);
}

TEST_F(ZstdLineReaderTest, VisitorStoppingOnTheLastBatchOfTheFileIsStillASuccess) {
  Recording recording;
  const auto summary = Read("1\n2\n3", 2, recording, 2, false);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(recording.BatchSizes(), std::vector<std::size_t>({2, 1}));
}

TEST_F(ZstdLineReaderTest, VisitorErrorIsReturnedUnchangedAndEndsTheRead) {
  Recording recording;
  const auto summary =
      Read("1\n2\n3\n4\n5\n", 2, recording, 2, util::Fail("Visitor gave up here."));
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error(), "Visitor gave up here.");
  EXPECT_EQ(recording.batches.size(), 2U);
}

TEST_F(ZstdLineReaderTest, VisitorErrorOnTheFinalUnterminatedLineIsReturned) {
  Recording recording;
  const auto summary = Read("no newline", 8, recording, 1, util::Fail("Refused at the end."));
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error(), "Refused at the end.");
}

TEST_F(ZstdLineReaderTest, EmptyVisitorIsRefused) {
  WriteZstdFile(path_, "a\n");
  const auto summary = VisitZstdLineBatches(path_, 1, ZstdLineBatchVisitor());
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error(), "Line batch visitor must be callable.");
}

TEST_F(ZstdLineReaderTest, MissingFileAndNonZstdFileFailWithTheirMessages) {
  Recording recording;
  const auto missing = VisitZstdLineBatches(dir_ / "absent.fen.zst", 1, Recorder(recording));
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), "Failed to open input file: " + (dir_ / "absent.fen.zst").string());

  WriteFile(path_, "8/8/8/8/8/8/8/K6k w - - 0 1\n");
  const auto plain = VisitZstdLineBatches(path_, 1, Recorder(recording));
  ASSERT_FALSE(plain.ok());
  EXPECT_EQ(plain.error(), "Failed to decode input file " + path_.string() +
                               ": Zstd decompression failed: Unknown frame descriptor");
  EXPECT_TRUE(recording.batches.empty());
}

TEST_F(ZstdLineReaderTest, LineStraddlingTwoDecompressionOutputsIsDeliveredWholeOnce) {
  // 100-byte lines do not divide 1 MiB, so one line crosses every output boundary.
  const std::size_t count = 3 * kMiB / 100;
  const std::string text = FixedWidthLines(count, 100);
  Recording recording;
  const auto summary = Read(text, 4096, recording);
  ASSERT_TRUE(summary.ok()) << summary.error();
  const std::vector<Line> lines = recording.Lines();
  ASSERT_EQ(lines.size(), count);
  std::string rebuilt;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i].number, i + 1);
    rebuilt += lines[i].text + '\n';
  }
  EXPECT_EQ(rebuilt, text);
  EXPECT_EQ(summary->decompressed_bytes, text.size());
}

// A line beyond the limit reaches the visitor as its first kMaxLineBytes + 1 bytes, whether it
// lies in one output, straddles two or spans several, and the lines after it keep their numbers.
TEST_F(ZstdLineReaderTest, LinesBeyondTheLimitAreCutOneByteAfterItAndTheFileReadsOn) {
  const std::string in_one_output(kMaxLineBytes + 2, 'o');
  const std::string across_outputs(2 * kMiB + 17, 'g');
  Recording recording;
  const auto summary =
      Read("head\n" + in_one_output + "\n" + across_outputs + "\nmiddle\n" + across_outputs, 8,
           recording);
  ASSERT_TRUE(summary.ok()) << summary.error();
  const std::string in_one_cut = in_one_output.substr(0, kMaxLineBytes + 1);
  const std::string across_cut = across_outputs.substr(0, kMaxLineBytes + 1);
  EXPECT_EQ(recording.Lines(),
            NumberedLines({"head", in_one_cut, across_cut, "middle", across_cut}));
}

// A line of exactly kMaxLineBytes is whole with its carriage return, and so is it when the
// carriage return ends one output and the line feed starts the next; one byte more is too long.
TEST_F(ZstdLineReaderTest, CarriageReturnDoesNotCountTowardsTheLimit) {
  const std::string longest(kMaxLineBytes, 'a');
  // Pads the text so that the carriage return after `longest` is the last byte of the first
  // 1 MiB output.
  const std::size_t padding = kMiB - 1 - longest.size();
  const std::string lines = FixedWidthLines(padding / 1000, 1000);
  const std::string filler(padding - lines.size() - 1, 'f');
  const std::string too_long = longest + "b";
  Recording recording;
  const auto summary =
      Read(lines + filler + "\n" + longest + "\r\n" + longest + "\r\n" + too_long + "\r\nnext\n", 8,
           recording);
  ASSERT_TRUE(summary.ok()) << summary.error();
  const std::vector<Line> delivered = recording.Lines();
  ASSERT_EQ(delivered.size(), padding / 1000 + 5);
  const std::vector<Line> last(delivered.end() - 4, delivered.end());
  const std::uint64_t first = padding / 1000 + 2;
  EXPECT_EQ(
      last,
      (std::vector<Line>{
          {longest, first}, {longest, first + 1}, {too_long, first + 2}, {"next", first + 3}}));
}

TEST_F(ZstdLineReaderTest, HighlyCompressibleInputOfManyMebibytesLosesNoDecodedBytes) {
  // Twenty mebibytes of one repeated line compress to a few kilobytes, so one input read
  // decodes into many full output buffers. Frames of 1,000,003 bytes put frame and block ends
  // off the output buffer boundaries, the last one included.
  const std::string line = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1\n";
  std::string text;
  while (text.size() < 20 * kMiB) text += line;
  std::string compressed;
  for (std::size_t start = 0; start < text.size(); start += 1000003) {
    WriteZstdFile(dir_ / "frame", text.substr(start, 1000003), 19);
    compressed += ReadFile(dir_ / "frame");
  }
  WriteFile(path_, compressed);
  ASSERT_LT(compressed.size(), kMiB);
  std::uint64_t delivered = 0;
  std::uint64_t wrong = 0;
  const auto summary = VisitZstdLineBatches(
      path_, 4096, [&](std::span<const ZstdLineBatchEntry> batch) -> util::Result<bool> {
        for (const ZstdLineBatchEntry& entry : batch) {
          ++delivered;
          if (entry.line_number != delivered || std::string(entry.text) + '\n' != line) ++wrong;
        }
        return true;
      });
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(summary->decompressed_bytes, text.size());
  EXPECT_EQ(summary->compressed_bytes, compressed.size());
  EXPECT_EQ(delivered, text.size() / line.size());
  EXPECT_EQ(summary->line_count, delivered);
  EXPECT_EQ(wrong, 0U);
}

TEST_F(ZstdLineReaderTest, FrameEndingExactlyOnAnOutputBufferBoundaryIsComplete) {
  // 64-byte lines fill the output buffers exactly; the frame ends with a full buffer.
  for (const std::size_t mebibytes : {1, 2}) {
    SCOPED_TRACE(mebibytes);
    const std::string text = FixedWidthLines(mebibytes * kMiB / 64, 64);
    Recording recording;
    const auto summary = Read(text, 4096, recording);
    ASSERT_TRUE(summary.ok()) << summary.error();
    EXPECT_EQ(summary->line_count, text.size() / 64);
    EXPECT_EQ(summary->decompressed_bytes, text.size());
  }
}

TEST_F(ZstdLineReaderTest, TwoConcatenatedFramesReadAsOneText) {
  WriteZstdFile(dir_ / "one", "a\nb");
  WriteZstdFile(dir_ / "two", "c\nd\n");
  WriteFile(path_, ReadFile(dir_ / "one") + ReadFile(dir_ / "two"));
  Recording recording;
  const auto summary = VisitZstdLineBatches(path_, 16, Recorder(recording));
  ASSERT_TRUE(summary.ok()) << summary.error();
  // The first frame's text has no final newline: its last line runs on into the second frame.
  EXPECT_EQ(recording.Lines(), NumberedLines({"a", "bc", "d"}));
}

TEST_F(ZstdLineReaderTest, TruncatedFileFailsWithTheTruncationMessage) {
  const std::string text = FixedWidthLines(50000, 40);
  WriteZstdFile(dir_ / "whole", text);
  const std::string whole = ReadFile(dir_ / "whole");
  for (const std::size_t cut : {std::size_t{1}, whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(cut);
    WriteFile(path_, whole.substr(0, whole.size() - cut));
    Recording recording;
    const auto summary = VisitZstdLineBatches(path_, 4096, Recorder(recording));
    ASSERT_FALSE(summary.ok());
    EXPECT_EQ(summary.error(), "Failed to decode input file " + path_.string() + ": " + kTruncated);
  }
}

TEST_F(ZstdLineReaderTest, ReaderStoppedEarlyByItsVisitorIsNotReportedTruncated) {
  const std::string text = FixedWidthLines(50000, 40);
  WriteZstdFile(dir_ / "whole", text);
  const std::string whole = ReadFile(dir_ / "whole");
  WriteFile(path_, whole.substr(0, whole.size() - 10));
  Recording recording;
  const auto summary = VisitZstdLineBatches(path_, 10, Recorder(recording, 1, false));
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(summary->line_count, 10U);
}

class DecompressZstdFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  const std::filesystem::path path_ = dir_ / "shard.psfen.zst";
};

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

TEST_F(DecompressZstdFileTest, ReturnsTheWholeContentOfOneOrSeveralFrames) {
  const std::string big = FixedWidthLines(40000, 90);  // several output buffers
  WriteZstdFile(path_, big);
  const auto one = DecompressZstdFile(path_);
  ASSERT_TRUE(one.ok()) << one.error();
  EXPECT_EQ(*one, Bytes(big));

  WriteZstdFile(dir_ / "second", "tail");
  WriteFile(path_, ReadFile(path_) + ReadFile(dir_ / "second"));
  const auto two = DecompressZstdFile(path_);
  ASSERT_TRUE(two.ok()) << two.error();
  EXPECT_EQ(*two, Bytes(big + "tail"));
}

TEST_F(DecompressZstdFileTest, EmptyFileIsAnEmptySuccess) {
  WriteFile(path_, "");
  const auto content = DecompressZstdFile(path_);
  ASSERT_TRUE(content.ok()) << content.error();
  EXPECT_TRUE(content->empty());
}

TEST_F(DecompressZstdFileTest, TruncatedFrameFailsWithTheTruncationMessage) {
  WriteZstdFile(dir_ / "whole", FixedWidthLines(1000, 70));
  const std::string whole = ReadFile(dir_ / "whole");
  for (const std::size_t keep : {std::size_t{4}, whole.size() / 2, whole.size() - 1}) {
    SCOPED_TRACE(keep);
    WriteFile(path_, whole.substr(0, keep));
    const auto content = DecompressZstdFile(path_);
    ASSERT_FALSE(content.ok());
    EXPECT_EQ(content.error(), kTruncated);
  }
}

TEST_F(DecompressZstdFileTest, GarbageAfterACompleteFrameFailsAsADecodingError) {
  WriteZstdFile(path_, "payload");
  WriteFile(path_, ReadFile(path_) + "not a frame at all");
  const auto content = DecompressZstdFile(path_);
  ASSERT_FALSE(content.ok());
  EXPECT_EQ(content.error().rfind("Zstd decompression failed: ", 0), 0U) << content.error();
}

TEST_F(DecompressZstdFileTest, MissingFileFailsWithItsPath) {
  const auto content = DecompressZstdFile(path_);
  ASSERT_FALSE(content.ok());
  EXPECT_EQ(content.error(), "Failed to open input file: " + path_.string());
}

}  // namespace
}  // namespace boardmill::compression
