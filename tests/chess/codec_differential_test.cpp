#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_reading.h"
#include "fuzz/codec_properties.h"
#include "test_support.h"

namespace boardmill::chess {
namespace {

std::vector<std::string> PositionLines() {
  const std::string text = testing::ReadZstdFile(testing::TestDataPath("positions.fen.zst"));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// Bytes a mutation puts in: mostly FEN vocabulary, so that mutants stay close enough to valid
// text to reach the later checks, plus some that never belong in a FEN.
constexpr std::string_view kMutationBytes = "/12345678 09PpNnBbRrQqKkwb-aehKQkq365\t\r\x80x";
// The same with the vocabulary of EPD operations and of what the lenient reading skips.
constexpr std::string_view kLenientMutationBytes =
    "/12345678 09PpNnBbRrQqKkwb-aehKQkq365\t\r\x80x;;\"\"  \t\thmvcfn0\0";

// Single-byte mutants of `line`: `count` each of a changed, a deleted and an inserted byte at
// pseudo-random positions.
std::vector<std::string> Mutants(const std::string& line, int count, std::mt19937& random,
                                 std::string_view mutation_bytes = kMutationBytes) {
  std::vector<std::string> mutants;
  if (line.empty()) return mutants;
  std::uniform_int_distribution<std::size_t> byte_of(0, mutation_bytes.size() - 1);
  std::uniform_int_distribution<std::size_t> position_in(0, line.size() - 1);
  for (int i = 0; i < count; ++i) {
    std::string changed = line;
    changed[position_in(random)] = mutation_bytes[byte_of(random)];
    mutants.push_back(std::move(changed));

    std::string deleted = line;
    deleted.erase(position_in(random), 1);
    mutants.push_back(std::move(deleted));

    std::string inserted = line;
    inserted.insert(position_in(random), 1, mutation_bytes[byte_of(random)]);
    mutants.push_back(std::move(inserted));
  }
  return mutants;
}

class DifferentialTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lines_ = new std::vector<std::string>(PositionLines()); }
  static void TearDownTestSuite() {
    delete lines_;
    lines_ = nullptr;
  }
  static const std::vector<std::string>& lines() { return *lines_; }

 private:
  static inline std::vector<std::string>* lines_ = nullptr;
};

// A position line as EPD suites and puzzle collections write it, in one of several styles picked
// by `style`: operations with and without semicolons, quoted operands holding ';' and spaces,
// clocks before operations, tabs, a glued or lone ';', trailing NULs, fullmove 0.
std::string AsOtherToolsWriteIt(const std::string& line, std::size_t style) {
  const std::vector<std::string> fields = testing::Split(line, ' ');
  if (fields.size() != 6) return line;
  const std::string position = fields[0] + ' ' + fields[1] + ' ' + fields[2] + ' ' + fields[3];
  const std::string& halfmove = fields[4];
  const std::string& fullmove = fields[5];
  switch (style % 8) {
    case 0:
      return position + " bm e4; id \"suite 1\"; hmvc " + halfmove + "; fmvn " + fullmove + ";";
    case 1:
      return fields[0] + '\t' + fields[1] + "\t\t" + fields[2] + '\t' + fields[3] + '\t' + halfmove;
    case 2:
      return position + "; c0 \"a; b hmvc 3\"; hmvc " + halfmove;
    case 3:
      return position + ' ' + halfmove + ' ' + fullmove + " bm Rc8+ dm 26";
    case 4:
      return position + ' ' + halfmove + ' ' + fullmove + "; v=-385";
    case 5:
      return position + ' ' + halfmove + " 0";
    case 6:
      return position + " ; bm Nf3 id WAC 001 fmvn " + fullmove + std::string(3, '\0');
    default:
      return position + " bm Nf3 hmvc " + halfmove + " fmvn " + fullmove + " \t";
  }
}

TEST_F(DifferentialTest, RealPositionsEncodeAlikeOnBothRoutesAndRoundTrip) {
  ASSERT_GT(lines().size(), 7000U);
  for (const std::string& line : lines()) {
    ASSERT_EQ(testing::CheckFenRoutesAgree(line, FenReading::kStrict), "") << line;
    ASSERT_TRUE(EncodeFenFast(line).ok()) << line;
    // Leniently too, and the strict reading accepts them: none counts as lenient only.
    ASSERT_EQ(testing::CheckFenRoutesAgree(line, FenReading::kLenient), "") << line;
    const util::Result<FastEncodeResult> lenient = EncodeFenFast(line, FenReading::kLenient);
    ASSERT_TRUE(lenient.ok()) << line;
    ASSERT_FALSE(lenient->lenient_only) << line;
  }
}

TEST_F(DifferentialTest, PositionsAsOtherToolsWriteThemReadAlikeOnBothRoutes) {
  for (std::size_t i = 0; i < lines().size(); ++i) {
    const std::string line = AsOtherToolsWriteIt(lines()[i], i);
    ASSERT_EQ(testing::CheckFenRoutesAgree(line, FenReading::kLenient), "")
        << ::testing::PrintToString(line);
    const util::Result<FastEncodeResult> lenient = EncodeFenFast(line, FenReading::kLenient);
    ASSERT_TRUE(lenient.ok()) << ::testing::PrintToString(line) << ": " << lenient.error();
    EXPECT_EQ(lenient->lenient_only, !EncodeFenFast(line).ok()) << ::testing::PrintToString(line);
  }
}

TEST_F(DifferentialTest, MutatedPositionsGetTheSameVerdictOnBothRoutes) {
  std::mt19937 random(20240607);
  std::size_t mutants = 0;
  std::size_t accepted = 0;
  std::set<std::string> messages;
  for (const std::string& line : lines()) {
    for (const std::string& mutant : Mutants(line, 2, random)) {
      ++mutants;
      ASSERT_EQ(testing::CheckFenRoutesAgree(mutant, FenReading::kStrict), "")
          << '"' << mutant << '"';
      const util::Result<FastEncodeResult> fast = EncodeFenFast(mutant);
      if (fast.ok()) {
        ++accepted;
      } else {
        messages.insert(fast.error());
      }
    }
  }
  // The mutants must reach both outcomes and the refusals, or the comparison above proves
  // little: one edited byte can provoke every parser message but the missing board.
  EXPECT_GT(mutants, 40000U);
  EXPECT_GT(accepted, mutants / 10);
  EXPECT_LT(accepted, mutants * 9 / 10);
  EXPECT_GE(messages.size(), 12U) << ::testing::PrintToString(messages);
}

TEST_F(DifferentialTest, MutatedLinesGetTheSameLenientVerdictOnBothRoutes) {
  std::mt19937 random(20261209);
  std::size_t mutants = 0;
  std::size_t accepted = 0;
  std::size_t lenient_only = 0;
  std::set<std::string> messages;
  for (std::size_t i = 0; i < lines().size(); i += 2) {
    const std::string line = AsOtherToolsWriteIt(lines()[i], i / 2);
    for (const std::string& mutant : Mutants(line, 2, random, kLenientMutationBytes)) {
      ++mutants;
      ASSERT_EQ(testing::CheckFenRoutesAgree(mutant, FenReading::kLenient), "")
          << ::testing::PrintToString(mutant);
      const util::Result<FastEncodeResult> fast = EncodeFenFast(mutant, FenReading::kLenient);
      if (fast.ok()) {
        ++accepted;
        lenient_only += fast->lenient_only ? 1 : 0;
      } else {
        messages.insert(fast.error());
      }
    }
  }
  // Both outcomes, lines only the lenient rules take, and most refusals must come up.
  EXPECT_GT(mutants, 20000U);
  EXPECT_GT(accepted, mutants / 10);
  EXPECT_LT(accepted, mutants * 9 / 10);
  EXPECT_GT(lenient_only, accepted / 4);
  EXPECT_GE(messages.size(), 11U) << ::testing::PrintToString(messages);
}

}  // namespace
}  // namespace boardmill::chess
