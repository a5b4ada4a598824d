#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_format.h"
#include "chess/fen_parser.h"
#include "chess/fen_reading.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::chess {
namespace {

using namespace std::string_literals;  // lines with NUL bytes

// A line as other tools write it, the position the lenient reading must give (canonical FEN)
// and whether the strict reading refuses the line.
struct LenientLine {
  std::string input;
  const char* canonical;
  bool lenient_only;
};

void PrintTo(const LenientLine& line, std::ostream* out) {
  *out << ::testing::PrintToString(line.input);
}

class LenientLineTest : public ::testing::TestWithParam<LenientLine> {};

TEST_P(LenientLineTest, BothRoutesReadTheSamePosition) {
  const util::Result<ParsedFen> parsed = ParseFen(GetParam().input, FenReading::kLenient);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_EQ(FormatFen(parsed->position), GetParam().canonical);
  EXPECT_EQ(parsed->lenient_only, GetParam().lenient_only);
  EXPECT_EQ(ParseFen(GetParam().input).ok(), !GetParam().lenient_only);

  const util::Result<PackedSfen> general = EncodePackedSfen(parsed->position);
  ASSERT_TRUE(general.ok()) << general.error();
  const util::Result<FastEncodeResult> fast = EncodeFenFast(GetParam().input, FenReading::kLenient);
  ASSERT_TRUE(fast.ok()) << fast.error();
  EXPECT_EQ(fast->record, *general);
  EXPECT_EQ(fast->occupancy, parsed->position.Occupancy());
  EXPECT_EQ(fast->lenient_only, GetParam().lenient_only);
}

constexpr char kWac1[] = "2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - 0 1";

INSTANTIATE_TEST_SUITE_P(
    Puzzles, LenientLineTest,
    ::testing::Values(
        // Puzzle collections often write a fullmove number of 0.
        LenientLine{"r1b1k2r/ppppnppp/2n2q2/2b5/3NP3/2P1B3/PP3PPP/RN1QKB1R w KQkq - 0 0",
                    "r1b1k2r/ppppnppp/2n2q2/2b5/3NP3/2P1B3/PP3PPP/RN1QKB1R w KQkq - 0 1", true},
        LenientLine{"8/5pk1/6p1/8/3Q4/6PK/5q2/8 b - - 3 00", "8/5pk1/6p1/8/3Q4/6PK/5q2/8 b - - 3 1",
                    true},
        // A strictly valid line reads as before and is not counted.
        LenientLine{"r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 12 34",
                    "r3k2r/8/8/8/8/8/8/R3K2R b KQkq - 12 34", false}));

INSTANTIATE_TEST_SUITE_P(
    EpdOperations, LenientLineTest,
    ::testing::Values(
        LenientLine{
            "2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - bm Qg6; id \"WAC.001\";",
            kWac1, true},
        // hmvc and fmvn set the clocks, wherever they stand among the operations.
        LenientLine{"r1bqk2r/pp2bppp/2p5/3pP3/P2Q1P2/2N1B3/1PP3PP/R4RK1 b kq - bm f6; id "
                    "\"BK.14\"; hmvc 2; fmvn 14;",
                    "r1bqk2r/pp2bppp/2p5/3pP3/P2Q1P2/2N1B3/1PP3PP/R4RK1 b kq - 2 14", true},
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - fmvn 61; c0 \"endgame\"; hmvc 17;",
                    "4k3/8/8/8/8/8/8/4K3 w - - 17 61", true},
        // The last one wins; fmvn 0 reads as 1.
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - hmvc 3; hmvc 7; fmvn 9; fmvn 0;",
                    "4k3/8/8/8/8/8/8/4K3 w - - 7 1", true},
        // Operations override the clock fields of a line the strict reading accepts as well.
        LenientLine{"4k3/8/8/8/8/8/8/4K3 b - - 5 10 hmvc 3;", "4k3/8/8/8/8/8/8/4K3 b - - 3 10",
                    false},
        // Inside double quotes nothing counts, ';' and spaces included.
        LenientLine{"2rr3k/pp3pp1/1nnqbN1p/3pN3/2pP4/2P3Q1/PPB4P/R4RK1 w - - bm Qg6; c0 \"mate; "
                    "then hmvc 99; fmvn 5\"; id \"a b\";",
                    kWac1, true},
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - c0 \"unclosed hmvc 9",
                    "4k3/8/8/8/8/8/8/4K3 w - - 0 1", true},
        // Operations without semicolons, an unquoted id of several words.
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - bm Kd2 id WAC 001 extra words hmvc 4 fmvn 20",
                    "4k3/8/8/8/8/8/8/4K3 w - - 4 20", true},
        // An opcode followed by ';' has no operand; one that is not a number is ignored.
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - hmvc; 5; fmvn x; hmvc 6x;",
                    "4k3/8/8/8/8/8/8/4K3 w - - 0 1", true}));

INSTANTIATE_TEST_SUITE_P(
    Separators, LenientLineTest,
    ::testing::Values(
        LenientLine{"8/8/8/8/8/8/8/K6k\tb\t-\t-\t3\t40", "8/8/8/8/8/8/8/K6k b - - 3 40", true},
        LenientLine{"\t 8/8/8/8/8/8/8/K6k \t b  KQ", "8/8/8/8/8/8/8/K6k b KQ - 0 1", true},
        // A ';' glued to the en-passant field, or standing alone.
        LenientLine{"4k3/8/8/8/4P3/8/8/4K3 b - e3; bm Kd7;", "4k3/8/8/8/4P3/8/8/4K3 b - e3 0 1",
                    true},
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - -;bm Kd2", "4k3/8/8/8/8/8/8/4K3 w - - 0 1", true},
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - ; bm Kd2;", "4k3/8/8/8/8/8/8/4K3 w - - 0 1", true},
        // Trailing NUL bytes, tabs and spaces.
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - bm Kd2;\0\0"s, "4k3/8/8/8/8/8/8/4K3 w - - 0 1",
                    true},
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - - 9 30\t\0"s, "4k3/8/8/8/8/8/8/4K3 w - - 9 30", true},
        LenientLine{"4k3/8/8/8/8/8/8/4K3 w - -\0"s, "4k3/8/8/8/8/8/8/4K3 w - - 0 1", true}));

INSTANTIATE_TEST_SUITE_P(
    ClocksBeforeOperations, LenientLineTest,
    ::testing::Values(LenientLine{"2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 w - - 0 1 bm Rc8+ dm 26",
                                  "2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 w - - 0 1", false},
                      LenientLine{"2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 0 4; v=-385",
                                  "2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 0 4", true},
                      LenientLine{"2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 6 4;v=-385",
                                  "2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 6 4", true},
                      // One number alone is the halfmove clock.
                      LenientLine{"2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 7 bm Rc1+;",
                                  "2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 7 1", true},
                      LenientLine{"2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 7; 12 bm Rc1+;",
                                  "2r3k1/5ppp/8/8/8/8/5PPP/2R3K1 b - - 7 1", true}));

// Lines the lenient reading still refuses, with the message both routes give.
struct RefusedLine {
  std::string input;
  const char* message;
};

void PrintTo(const RefusedLine& line, std::ostream* out) {
  *out << ::testing::PrintToString(line.input);
}

class LenientRefusalTest : public ::testing::TestWithParam<RefusedLine> {};

TEST_P(LenientRefusalTest, BothRoutesGiveTodaysMessage) {
  std::string general_message;
  const util::Result<ParsedFen> parsed = ParseFen(GetParam().input, FenReading::kLenient);
  if (!parsed) {
    general_message = parsed.error();
  } else {
    const util::Result<PackedSfen> record = EncodePackedSfen(parsed->position);
    ASSERT_FALSE(record.ok()) << FormatFen(parsed->position);
    general_message = record.error();
  }
  EXPECT_EQ(general_message, GetParam().message);
  const util::Result<FastEncodeResult> fast = EncodeFenFast(GetParam().input, FenReading::kLenient);
  ASSERT_FALSE(fast.ok());
  EXPECT_EQ(fast.error(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LenientRefusalTest,
    ::testing::Values(
        RefusedLine{"", "FEN is missing the board field."},
        RefusedLine{" \t\0\0"s, "FEN is missing the board field."},
        RefusedLine{"4k3/8/8/8/8/8/8/4K3;", "Board field contains an invalid piece character."},
        RefusedLine{"\xEF\xBB\xBF"
                    "4k3/8/8/8/8/8/8/4K3 w - -",
                    "Board field contains an invalid piece character."},
        RefusedLine{"4k3/8/8/8/8/8/8/4K4 w - - bm Kd2;",
                    "Board field contains an invalid empty-square run."},
        // A missing en-passant field: the first operation stands in its place.
        RefusedLine{"4k3/8/8/8/8/8/8/4K3 w KQ bm Kd2;", "En passant field is not a valid square."},
        RefusedLine{"4k3/8/8/8/8/8/8/4K3 w - ; bm Kd2;", "En passant field is not a valid square."},
        RefusedLine{"4k3/8/8/8/8/8/8/4K3 w -; - bm Kd2;",
                    "Castling field contains an invalid flag."},
        // The record's clock limit, and the counters' own, hold for operations too.
        RefusedLine{"4k3/8/8/8/8/8/8/4K3 w - - 200 1",
                    "Rule-50 counter exceeds PackedSfen capacity."},
        RefusedLine{"4k3/8/8/8/8/8/8/4K3 w - - hmvc 128;",
                    "Rule-50 counter exceeds PackedSfen capacity."},
        RefusedLine{"4k3/8/8/8/8/8/8/4K3 w - - 0 1 hmvc 70000;", "Halfmove clock is invalid."},
        RefusedLine{"4k3/8/8/8/8/8/8/4K3 w - - fmvn 65536;", "Fullmove number is invalid."}));

// The strict reading, chosen by the same parameter, keeps its verdicts and ignores operations.
TEST(FenReadingTest, TheStrictReadingRefusesWhatOnlyTheLenientOneTakes) {
  const std::string line = "4k3/8/8/8/8/8/8/4K3 w - - 0 0 hmvc 3;";
  const util::Result<ParsedFen> parsed = ParseFen(line, FenReading::kStrict);
  ASSERT_FALSE(parsed.ok());
  EXPECT_EQ(parsed.error(), "Fullmove number is invalid.");
  const util::Result<FastEncodeResult> fast = EncodeFenFast(line, FenReading::kStrict);
  ASSERT_FALSE(fast.ok());
  EXPECT_EQ(fast.error(), "Fullmove number is invalid.");

  const util::Result<ParsedFen> clocks =
      ParseFen("4k3/8/8/8/8/8/8/4K3 w - - 5 9 hmvc 3", FenReading::kStrict);
  ASSERT_TRUE(clocks.ok()) << clocks.error();
  EXPECT_EQ(clocks->position.halfmove_clock(), 5);
  EXPECT_FALSE(clocks->lenient_only);
}

TEST(StripUtf8BomTest, DropsOnlyALeadingMark) {
  EXPECT_EQ(StripUtf8Bom("\xEF\xBB\xBF"
                         "4k3/8 w"),
            "4k3/8 w");
  EXPECT_EQ(StripUtf8Bom("4k3/8 w"), "4k3/8 w");
  EXPECT_EQ(StripUtf8Bom("\xEF\xBB"), "\xEF\xBB");
  EXPECT_EQ(StripUtf8Bom("x\xEF\xBB\xBF"), "x\xEF\xBB\xBF");
  EXPECT_EQ(StripUtf8Bom(""), "");
}

}  // namespace
}  // namespace boardmill::chess
