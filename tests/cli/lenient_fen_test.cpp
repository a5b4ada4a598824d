// --lenient-fen through the binary: lines as other tools write FEN and EPD, read in every mode
// and by both encoder routes, against the same positions written strictly; and the word before
// the FEN of encode-fen and roundtrip-fen.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

struct LenientLine {
  std::string text;    // as another tool writes it
  std::string strict;  // the same position in strict FEN
  bool lenient_only;   // the strict reading refuses `text`
};

// One line of each style; the first carries the file's byte-order mark.
const std::vector<LenientLine> kLines = {
    {"\xEF\xBB\xBFrnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0",
     "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", true},
    {"r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - bm Nf6; "
     "id \"Ruy; Lopez hmvc 9\"; hmvc 2; fmvn 3;",
     "r1bqkbnr/pppp1ppp/2n5/4p3/4P3/5N2/PPPP1PPP/RNBQKB1R b KQkq - 2 3", true},
    {"8/8/8/4k3/8/8/4K3/8\tb\t-\t-\t5\t40", "8/8/8/4k3/8/8/4K3/8 b - - 5 40", true},
    {"8/8/8/4k3/8/8/3K4/8 w - -; bm Kd3", "8/8/8/4k3/8/8/3K4/8 w - - 0 1", true},
    {"8/8/8/3k4/8/8/4K3/8 w - - 3 7\0\0\r"s, "8/8/8/3k4/8/8/4K3/8 w - - 3 7", true},
    {"8/8/8/3k4/8/8/3K4/8 w - - bm Kc3 id my test position hmvc 4 fmvn 9 hmvc 6",
     "8/8/8/3k4/8/8/3K4/8 w - - 6 9", true},
    {"8/8/8/2k5/8/8/3K4/8 w - - 0 4 bm Rc8+ dm 26", "8/8/8/2k5/8/8/3K4/8 w - - 0 4", false},
    {"8/8/8/2k5/8/8/2K5/8 b - - 0 4; v=-385", "8/8/8/2k5/8/8/2K5/8 b - - 0 4", true},
    {"8/8/8/1k6/8/8/3K4/8 w - - 7; bm Kd4", "8/8/8/1k6/8/8/3K4/8 w - - 7 1", true},
    {"8/8/8/k7/8/8/3K4/8 w - - ; id \"x\"", "8/8/8/k7/8/8/3K4/8 w - - 0 1", true},
    {"8/8/8/k7/8/8/4K3/8 w - - 1 2 c0 \"hmvc 9\"", "8/8/8/k7/8/8/4K3/8 w - - 1 2", false},
    // Still broken: the en-passant field is missing.
    {"8/8/8/k7/8/8/5K2/8 w - bm Kf3;", "8/8/8/k7/8/8/5K2/8 w - bm Kf3;", false},
};

std::string Joined(bool strict) {
  std::string text;
  for (const LenientLine& line : kLines) text += (strict ? line.strict : line.text) + "\n";
  return text;
}

std::uint64_t LenientOnlyCount() {
  std::uint64_t count = 0;
  for (const LenientLine& line : kLines) count += line.lenient_only;
  return count;
}

class LenientFenTest : public ::testing::Test {
 protected:
  LenientFenTest() {
    WriteZstdFile(temp_ / "other" / "a.fen.zst", Joined(false));
    WriteZstdFile(temp_ / "other" / "b.epd.zst", Joined(false));
    WriteZstdFile(temp_ / "strict" / "a.fen.zst", Joined(true));
    WriteZstdFile(temp_ / "strict" / "b.fen.zst", Joined(true));
  }

  ProgramRun ConvertInto(const std::string& input, const std::string& output,
                         const std::vector<std::string>& options) const {
    return Convert(temp_ / input, temp_ / output, options);
  }

  TempDir temp_;
};

TEST_F(LenientFenTest, EveryModeAndRouteGivesTheRecordsOfTheStrictlyWrittenPositions) {
  const ProgramRun strict = ConvertInto("strict", "expected", {"--sequential", "--shards", "4"});
  ASSERT_EQ(strict.exit_code, 0) << strict.err;
  const std::map<std::string, std::string> expected = ShardContents(temp_ / "expected");
  const std::string lenient_count = std::to_string(2 * LenientOnlyCount());

  for (const char* mode : {"--sequential", "--parallel", "--staged"}) {
    for (const bool fast : {true, false}) {
      std::vector<std::string> options = {mode, "--shards", "4", "--lenient-fen"};
      if (!fast) options.push_back("--no-fast-encoder");
      const std::string output = std::string("out") + mode + (fast ? "" : "-general");
      const ProgramRun run = ConvertInto("other", output, options);
      ASSERT_EQ(run.exit_code, 0) << output << ": " << run.err;
      EXPECT_EQ(ShardContents(temp_ / output), expected) << output;
      const std::map<std::string, std::string> summary =
          SummaryValues(temp_ / output / "run-summary.txt");
      EXPECT_EQ(summary.at("input_file_count"), "2") << output;
      EXPECT_EQ(summary.at("invalid_positions"), "2") << output;
      EXPECT_EQ(summary.at("lenient_positions"), lenient_count) << output;
      EXPECT_EQ(ReadLines(temp_ / output / "run-summary.txt").back(),
                "lenient_positions=" + lenient_count)
          << output;
      EXPECT_TRUE(run.out.ends_with("Lenient positions: " + lenient_count + "\n")) << output;
    }
  }
}

TEST_F(LenientFenTest, BothRoutesRejectTheSameLinesWithTheSameMessages) {
  for (const char* route : {"fast", "general"}) {
    std::vector<std::string> options = {"--parallel", "--shards", "4", "--lenient-fen"};
    if (std::string(route) == "general") options.push_back("--no-fast-encoder");
    const ProgramRun run = ConvertInto("other", route, options);
    ASSERT_EQ(run.exit_code, 0) << run.err;
  }
  const std::vector<std::string> rejects = ReadLines(temp_ / "fast" / "rejects.tsv");
  ASSERT_EQ(rejects.size(), 3U);  // the header and the broken line of each file
  EXPECT_EQ(rejects, ReadLines(temp_ / "general" / "rejects.tsv"));
  EXPECT_NE(rejects[1].find("\t12\t"), std::string::npos) << rejects[1];
}

TEST_F(LenientFenTest, WithoutTheFlagTheLinesStayInvalidAndNothingIsReportedOfIt) {
  const ProgramRun run = ConvertInto("other", "out", {"--sequential", "--shards", "4"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::map<std::string, std::string> summary =
      SummaryValues(temp_ / "out" / "run-summary.txt");
  EXPECT_EQ(summary.at("input_file_count"), "1");  // the .epd.zst file is not input
  EXPECT_EQ(summary.at("invalid_positions"), std::to_string(LenientOnlyCount() + 1));
  EXPECT_FALSE(summary.contains("lenient_positions"));
  EXPECT_EQ(run.out.find("Lenient positions"), std::string::npos);
}

TEST(LenientFenWordTest, EncodeFenAndRoundtripFenReadTheFenLenientlyAfterTheWord) {
  const std::string zero = "8/8/8/k7/8/8/4K3/8 w - - 0 0";
  const ProgramRun expected = RunBoardmill({"encode-fen", "8/8/8/k7/8/8/4K3/8 w - - 0 1"});
  ASSERT_EQ(expected.exit_code, 0) << expected.err;
  ExpectRun(RunBoardmill({"encode-fen", "--lenient-fen", zero}), 0, expected.out, "");
  ExpectRun(RunBoardmill({"roundtrip-fen", "--lenient-fen", "8/8/8/k7/8/8/4K3/8\tw - - hmvc 3"}), 0,
            "8/8/8/k7/8/8/4K3/8 w - - 3 1\n", "");
  const ProgramRun strict = RunBoardmill({"encode-fen", zero});
  EXPECT_EQ(strict.exit_code, 1);
  EXPECT_EQ(strict.err, "Fullmove number is invalid.\n");
}

}  // namespace
}  // namespace boardmill::testing
