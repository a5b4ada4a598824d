#include "chess/fen_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_format.h"

namespace boardmill::chess {
namespace {

constexpr char kStartFen[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";

Position MustParse(const std::string& fen) {
  util::Result<Position> position = ParseFen(fen);
  EXPECT_TRUE(position.ok()) << fen << ": " << position.error();
  return position.ok() ? *position : Position{};
}

TEST(ParseSquareTest, AcceptsExactlyLowerCaseFileAndRankDigit) {
  EXPECT_EQ(ParseSquare("a1"), 0);
  EXPECT_EQ(ParseSquare("h1"), 7);
  EXPECT_EQ(ParseSquare("e3"), 20);
  EXPECT_EQ(ParseSquare("a8"), 56);
  EXPECT_EQ(ParseSquare("h8"), 63);
  for (const char* text : {"", "e", "E3", "e33", "i1", "a0", "a9", "`1", "3e", " e3", "e3 "}) {
    EXPECT_EQ(ParseSquare(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(ParseFenTest, StartPositionFillsEveryField) {
  const Position position = MustParse(kStartFen);
  EXPECT_EQ(position.PieceAt(0), 7);    // R on a1
  EXPECT_EQ(position.PieceAt(4), 11);   // K on e1
  EXPECT_EQ(position.PieceAt(12), 1);   // P on e2
  EXPECT_EQ(position.PieceAt(59), 10);  // q on d8
  EXPECT_EQ(position.PieceAt(60), 12);  // k on e8
  EXPECT_EQ(position.PieceAt(62), 4);   // n on g8
  EXPECT_EQ(position.PieceAt(35), 0);   // d5 empty
  EXPECT_EQ(position.side_to_move(), 0);
  EXPECT_EQ(position.castling_rights(), 15);
  EXPECT_EQ(position.en_passant_square(), -1);
  EXPECT_EQ(position.halfmove_clock(), 0);
  EXPECT_EQ(position.fullmove_number(), 1);
  EXPECT_EQ(position.KingSquare(Color::kWhite), 4);
  EXPECT_EQ(position.KingSquare(Color::kBlack), 60);
  EXPECT_EQ(position.Occupancy(), 0xFFFF00000000FFFFULL);
}

TEST(ParseFenTest, BoardAloneTakesTheDefaults) {
  const Position position = MustParse("8/8/8/8/8/8/8/K6k");
  EXPECT_EQ(position.PieceAt(0), 11);
  EXPECT_EQ(position.PieceAt(7), 12);
  EXPECT_EQ(position.side_to_move(), 0);
  EXPECT_EQ(position.castling_rights(), 0);
  EXPECT_EQ(position.en_passant_square(), -1);
  EXPECT_EQ(position.halfmove_clock(), 0);
  EXPECT_EQ(position.fullmove_number(), 1);
  EXPECT_EQ(position.Occupancy(), 0x81ULL);
}

TEST(ParseFenTest, ReadsFieldValuesAtTheirLimits) {
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 b KQkqKQ").castling_rights(), 15);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 w qK").castling_rights(), 9);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 b - e3").en_passant_square(), 20);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 w - e6").en_passant_square(), 44);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 w - a3").en_passant_square(), 16);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 w - h6").en_passant_square(), 47);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 b - - 65535 1").halfmove_clock(), 65535);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 b - - 007 1").halfmove_clock(), 7);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 b - - 0 65535").fullmove_number(), 65535);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 b - - 0 0001").fullmove_number(), 1);
  EXPECT_EQ(MustParse("4k3/8/8/8/8/8/8/4K3 b").side_to_move(), 1);
}

// Inputs that parse, given by the canonical text of the position they must give.
struct AcceptedFen {
  const char* input;
  const char* canonical;
};

class ParseFenAcceptsTest : public ::testing::TestWithParam<AcceptedFen> {};

TEST_P(ParseFenAcceptsTest, GivesTheExpectedPosition) {
  const util::Result<Position> position = ParseFen(GetParam().input);
  ASSERT_TRUE(position.ok()) << position.error();
  EXPECT_EQ(FormatFen(*position), GetParam().canonical);
}

INSTANTIATE_TEST_SUITE_P(
    Lenient, ParseFenAcceptsTest,
    ::testing::Values(
        // Leading spaces and runs of spaces between fields.
        AcceptedFen{"   rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR    w  KQkq   -  0   1   ",
                    kStartFen},
        // A seventh field and anything after it is never looked at.
        AcceptedFen{"8/8/8/8/8/8/8/K6k b - - 3 9 garbage\t\r/x 99999",
                    "8/8/8/8/8/8/8/K6k b - - 3 9"},
        // Missing trailing fields take their defaults one by one.
        AcceptedFen{"8/8/8/8/8/8/8/K6k b", "8/8/8/8/8/8/8/K6k b - - 0 1"},
        AcceptedFen{"8/8/8/8/8/8/8/K6k w Qk", "8/8/8/8/8/8/8/K6k w Qk - 0 1"},
        AcceptedFen{"8/8/8/8/8/8/8/K6k w - c6", "8/8/8/8/8/8/8/K6k w - c6 0 1"},
        AcceptedFen{"8/8/8/8/8/8/8/K6k w - - 42", "8/8/8/8/8/8/8/K6k w - - 42 1"},
        // Adjacent digits are fine while the rank stays at eight squares.
        AcceptedFen{"44/8/2k212/8/8/8/8/K1111111 w - - 0 1", "8/8/2k5/8/8/8/8/K7 w - - 0 1"},
        // No legality beyond the kings: pawns on the back ranks, a crowded board, an
        // en-passant square that no pawn move explains.
        AcceptedFen{"PPPPkPPP/8/8/8/8/8/8/ppppKppp b - f6 0 1",
                    "PPPPkPPP/8/8/8/8/8/8/ppppKppp b - f6 0 1"},
        AcceptedFen{"qqqqqqqq/qqqqqqqq/qqqqqqqq/qqqqkqqq/QQQQKQQQ/QQQQQQQQ/QQQQQQQQ/QQQQQQQQ",
                    "qqqqqqqq/qqqqqqqq/qqqqqqqq/qqqqkqqq/QQQQKQQQ/QQQQQQQQ/QQQQQQQQ/QQQQQQQQ w - - "
                    "0 1"}));

// Inputs that must be refused, with the message both routes give.
struct RefusedFen {
  const char* input;
  const char* message;
};

void PrintTo(const RefusedFen& fen, std::ostream* out) { *out << '"' << fen.input << '"'; }

class FenMessageTest : public ::testing::TestWithParam<RefusedFen> {};

TEST_P(FenMessageTest, BothRoutesGiveTheSameMessage) {
  const util::Result<Position> parsed = ParseFen(GetParam().input);
  ASSERT_FALSE(parsed.ok());
  EXPECT_EQ(parsed.error(), GetParam().message);
  const util::Result<FastEncodeResult> fast = EncodeFenFast(GetParam().input);
  ASSERT_FALSE(fast.ok());
  EXPECT_EQ(fast.error(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(MissingBoard, FenMessageTest,
                         ::testing::Values(RefusedFen{"", "FEN is missing the board field."},
                                           RefusedFen{"      ",
                                                      "FEN is missing the board field."}));

INSTANTIATE_TEST_SUITE_P(
    Board, FenMessageTest,
    ::testing::Values(
        RefusedFen{"8/8/8/8/8/8/K6k w - - 0 1", "Board field does not describe exactly 8 ranks."},
        RefusedFen{"8/8/8/8/8/8/8/K5k w - - 0 1", "Board field does not describe exactly 8 ranks."},
        RefusedFen{"8/8/8/8/8/8/8/", "Board field does not describe exactly 8 ranks."},
        RefusedFen{"8/8/7/8/8/8/8/K6k", "Board field has malformed rank separators."},
        RefusedFen{"8/8/8/8/8/8/8/K6k/", "Board field has malformed rank separators."},
        RefusedFen{"/8/8/8/8/8/8/8/K6k", "Board field has malformed rank separators."},
        RefusedFen{"8//8/8/8/8/8/8/K6k", "Board field has malformed rank separators."},
        RefusedFen{"8/8/8/8/8/8/8/K6kR", "Board field overflows the board."},
        RefusedFen{"ppppppppp/8/8/8/8/8/8/K6k", "Board field overflows the board."},
        RefusedFen{"9/8/8/8/8/8/8/K6k", "Board field contains an invalid empty-square run."},
        RefusedFen{"08/8/8/8/8/8/8/K6k", "Board field contains an invalid empty-square run."},
        RefusedFen{"54/8/8/8/8/8/8/K6k", "Board field contains an invalid empty-square run."},
        RefusedFen{"8/8/8/8/8/8/8/K8", "Board field contains an invalid empty-square run."},
        RefusedFen{"8/8/8/8/8/8/8/K6x", "Board field contains an invalid piece character."},
        RefusedFen{"8/8/8/8/8/8/8/K6k\tw - - 0 1",
                   "Board field contains an invalid piece character."},
        RefusedFen{"8/8/8/8/8/8/8/K6k\r", "Board field contains an invalid piece character."},
        // The first offending byte in text order decides.
        RefusedFen{"8/8/8/8/8/8/8/K6x/", "Board field contains an invalid piece character."},
        RefusedFen{"9/8/8/8/8/8/8/K6x", "Board field contains an invalid empty-square run."}));

INSTANTIATE_TEST_SUITE_P(
    Kings, FenMessageTest,
    ::testing::Values(RefusedFen{"8/8/8/8/8/8/8/K6K w - - 0 1",
                                 "FEN must contain exactly one white king and one black king."},
                      RefusedFen{"k7/8/8/8/8/8/8/K6K w - - 0 1",
                                 "FEN must contain exactly one white king and one black king."},
                      RefusedFen{"8/8/8/8/8/8/8/8 w - - 0 1",
                                 "FEN must contain exactly one white king and one black king."},
                      RefusedFen{"kk6/8/8/8/8/8/8/K7",
                                 "FEN must contain exactly one white king and one black king."},
                      // Checked before the active colour, so it wins over a bad colour field.
                      RefusedFen{"8/8/8/8/8/8/8/K7 x - - 0 1",
                                 "FEN must contain exactly one white king and one black king."}));

INSTANTIATE_TEST_SUITE_P(
    Fields, FenMessageTest,
    ::testing::Values(
        RefusedFen{"8/8/8/8/8/8/8/K6k W", "Active color must be 'w' or 'b'."},
        RefusedFen{"8/8/8/8/8/8/8/K6k wb", "Active color must be 'w' or 'b'."},
        RefusedFen{"8/8/8/8/8/8/8/K6k white", "Active color must be 'w' or 'b'."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w K-", "Castling field contains an invalid flag."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w --", "Castling field contains an invalid flag."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w KQkx", "Castling field contains an invalid flag."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - E3", "En passant field is not a valid square."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - e33", "En passant field is not a valid square."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - --", "En passant field is not a valid square."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - e4", "En passant square must be on rank 3 or 6."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - a1", "En passant square must be on rank 3 or 6."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - h8", "En passant square must be on rank 3 or 6."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 65536 1", "Halfmove clock is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 1a 1", "Halfmove clock is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - -1 1", "Halfmove clock is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 99999999999999999999 1", "Halfmove clock is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 0 0", "Fullmove number is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 0 0000", "Fullmove number is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 0 65536", "Fullmove number is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 0 1\t", "Fullmove number is invalid."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 0 +1", "Fullmove number is invalid."},
        // Fields are checked in order: the first bad one decides.
        RefusedFen{"8/8/8/8/8/8/8/K6k x y z 1a 0", "Active color must be 'w' or 'b'."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w y z 1a 0", "Castling field contains an invalid flag."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - z 1a 0", "En passant field is not a valid square."},
        RefusedFen{"8/8/8/8/8/8/8/K6k w - - 1a 0", "Halfmove clock is invalid."}));

TEST(PositionTest, KingQueriesLookAtTheWholeBoard) {
  Position position;
  EXPECT_FALSE(position.HasExactlyOneKing(Color::kWhite));
  EXPECT_EQ(position.KingSquare(Color::kWhite), -1);
  position.SetPiece(40, kWhiteKing);
  position.SetPiece(9, kWhiteKing);
  position.SetPiece(63, kBlackKing);
  EXPECT_FALSE(position.HasExactlyOneKing(Color::kWhite));
  EXPECT_TRUE(position.HasExactlyOneKing(Color::kBlack));
  EXPECT_EQ(position.KingSquare(Color::kWhite), 9);  // the lowest square wins
  EXPECT_EQ(position.KingSquare(Color::kBlack), 63);
}

TEST(PositionTest, OccupancyPutsA8InTheTopBitAndH1InTheBottomBit) {
  Position position;
  EXPECT_EQ(position.Occupancy(), 0U);
  position.SetPiece(56, 1);  // a8
  EXPECT_EQ(position.Occupancy(), 1ULL << 63);
  position.SetPiece(7, 2);  // h1
  EXPECT_EQ(position.Occupancy(), (1ULL << 63) | 1U);
  position.SetPiece(0, 3);   // a1
  position.SetPiece(63, 4);  // h8
  EXPECT_EQ(position.Occupancy(), 0x8100000000000081ULL);
}

}  // namespace
}  // namespace boardmill::chess
