#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "chess/fast_fen_encoder.h"
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

// Single-byte mutants of `line`: `count` each of a changed, a deleted and an inserted byte at
// pseudo-random positions.
std::vector<std::string> Mutants(const std::string& line, int count, std::mt19937& random) {
  std::vector<std::string> mutants;
  if (line.empty()) return mutants;
  std::uniform_int_distribution<std::size_t> byte_of(0, kMutationBytes.size() - 1);
  std::uniform_int_distribution<std::size_t> position_in(0, line.size() - 1);
  for (int i = 0; i < count; ++i) {
    std::string changed = line;
    changed[position_in(random)] = kMutationBytes[byte_of(random)];
    mutants.push_back(std::move(changed));

    std::string deleted = line;
    deleted.erase(position_in(random), 1);
    mutants.push_back(std::move(deleted));

    std::string inserted = line;
    inserted.insert(position_in(random), 1, kMutationBytes[byte_of(random)]);
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

TEST_F(DifferentialTest, RealPositionsEncodeAlikeOnBothRoutesAndRoundTrip) {
  ASSERT_GT(lines().size(), 7000U);
  for (const std::string& line : lines()) {
    ASSERT_EQ(testing::CheckFenRoutesAgree(line), "") << line;
    ASSERT_TRUE(EncodeFenFast(line).ok()) << line;
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
      ASSERT_EQ(testing::CheckFenRoutesAgree(mutant), "") << '"' << mutant << '"';
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

}  // namespace
}  // namespace boardmill::chess
