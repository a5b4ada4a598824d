#include "chess/fast_fen_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::chess {
namespace {

struct RoutingCase {
  const char* fen;
  std::uint64_t occupancy;
  std::uint64_t routing_key;
};

void PrintTo(const RoutingCase& c, std::ostream* out) { *out << '"' << c.fen << '"'; }

class FastRoutingTest : public ::testing::TestWithParam<RoutingCase> {};

TEST_P(FastRoutingTest, ReportsOccupancyAndTheEighthRankAsKey) {
  const util::Result<FastEncodeResult> fast = EncodeFenFast(GetParam().fen);
  ASSERT_TRUE(fast.ok()) << fast.error();
  EXPECT_EQ(fast->occupancy, GetParam().occupancy);
  EXPECT_EQ(fast->routing_key, GetParam().routing_key);

  const util::Result<Position> parsed = ParseFen(GetParam().fen);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  EXPECT_EQ(parsed->Occupancy(), GetParam().occupancy);
  const util::Result<PackedSfen> general = EncodePackedSfen(*parsed);
  ASSERT_TRUE(general.ok()) << general.error();
  EXPECT_EQ(fast->record, *general);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FastRoutingTest,
    ::testing::Values(
        RoutingCase{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
                    0xFFFF00000000FFFFULL, 255},
        RoutingCase{"8/8/8/8/8/8/8/K6k", 0x81, 0},
        RoutingCase{"r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1", 0x8900000000000089ULL, 0x89},
        // Empty runs split into several digits shift the same as one digit.
        RoutingCase{"1k1111r1/8/8/8/8/8/8/K7 b - - 0 1", 0x4200000000000080ULL, 0x42},
        RoutingCase{"7k/8/8/8/8/8/8/7K", 0x0100000000000001ULL, 1},
        RoutingCase{"k7/8/8/8/8/8/8/K7", 0x8000000000000080ULL, 0x80},
        RoutingCase{"rnbqkbnr/8/8/8/8/8/8/4K3 b - - 0 1", 0xFF00000000000008ULL, 255}));

TEST(ParseFenFastTest, RecordsKingSquaresWhileReadingTheBoard) {
  const util::Result<FastPosition> position = ParseFenFast("r3k2r/8/8/8/8/8/8/R3K2R b Kq e3 12 34");
  ASSERT_TRUE(position.ok()) << position.error();
  EXPECT_EQ(position->white_king_square, 4);
  EXPECT_EQ(position->black_king_square, 60);
  EXPECT_EQ(position->board[0], 7);
  EXPECT_EQ(position->board[63], 8);
  EXPECT_EQ(position->state.side_to_move, 1);
  EXPECT_EQ(position->state.castling_rights, 9);
  EXPECT_EQ(position->state.en_passant_square, 20);
  EXPECT_EQ(position->state.halfmove_clock, 12);
  EXPECT_EQ(position->state.fullmove_number, 34);
  EXPECT_EQ(position->occupancy, 0x8900000000000089ULL);
}

FastPosition KingsOnE1AndE8() {
  util::Result<FastPosition> position = ParseFenFast("4k3/8/8/8/8/8/8/4K3");
  EXPECT_TRUE(position.ok());
  return position.ok() ? *position : FastPosition{};
}

TEST(EncodeFastPositionTest, GuardsItsKingSquares) {
  const std::pair<int, int> bad_squares[] = {{-1, 60}, {4, -1}, {64, 60}, {4, 64}, {4, 4}};
  for (const auto& [white, black] : bad_squares) {
    FastPosition position = KingsOnE1AndE8();
    position.white_king_square = white;
    position.black_king_square = black;
    const util::Result<FastEncodeResult> result = EncodeFastPosition(position);
    ASSERT_FALSE(result.ok()) << white << ", " << black;
    EXPECT_EQ(result.error(), "Position contains invalid king squares.");
  }
}

TEST(EncodeFastPositionTest, CodesTheBoardOfAPositionFilledByHand) {
  // Kings on e1 and e8, a white queen on d1, black pawns on a7 and h2, en passant on b6, and no
  // record bits written by a parse: the encoder has only the board to go by.
  Position general;
  general.SetPiece(4, kWhiteKing);
  general.SetPiece(60, kBlackKing);
  general.SetPiece(3, 9);
  general.SetPiece(48, 2);
  general.SetPiece(15, 2);
  general.set_castling_rights(kBlackKingSide);
  general.set_en_passant_square(41);
  general.set_halfmove_clock(3);
  general.set_fullmove_number(258);

  FastPosition fast;
  fast.board = general.board();
  fast.state.castling_rights = kBlackKingSide;
  fast.state.en_passant_square = 41;
  fast.state.halfmove_clock = 3;
  fast.state.fullmove_number = 258;
  fast.white_king_square = 4;
  fast.black_king_square = 60;
  fast.occupancy = 0x0880000000000118ULL;

  const util::Result<FastEncodeResult> result = EncodeFastPosition(fast);
  ASSERT_TRUE(result.ok()) << result.error();
  const util::Result<PackedSfen> expected = EncodePackedSfen(general);
  ASSERT_TRUE(expected.ok()) << expected.error();
  EXPECT_EQ(result->record, *expected);
  EXPECT_EQ(result->occupancy, general.Occupancy());
}

TEST(EncodeFastPositionTest, RefusesAClockAboveTheRecordsSevenBits) {
  FastPosition position = KingsOnE1AndE8();
  position.state.halfmove_clock = 127;
  EXPECT_TRUE(EncodeFastPosition(position).ok());
  position.state.halfmove_clock = 128;
  const util::Result<FastEncodeResult> result = EncodeFastPosition(position);
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error(), "Rule-50 counter exceeds PackedSfen capacity.");
}

}  // namespace
}  // namespace boardmill::chess
