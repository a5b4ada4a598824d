#include "chess/packed_sfen_layout.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::chess {
namespace {

PackedSfen Encode(const std::string& fen) {
  const util::Result<Position> position = ParseFen(fen);
  EXPECT_TRUE(position.ok()) << fen;
  const util::Result<PackedSfen> record = EncodePackedSfen(*position);
  EXPECT_TRUE(record.ok()) << fen;
  return *record;
}

PackedSfen PositionBitsOf(const std::string& fen) {
  const PackedSfen record = Encode(fen);
  const std::optional<unsigned> clock_bit = FindPackedSfenClockBit(record);
  EXPECT_TRUE(clock_bit.has_value()) << fen;
  return PackedSfenPositionBits(record, clock_bit.value_or(0));
}

// Boards with and without an en-passant square and with few and many pieces, so that the
// counters start at many different bits.
const char* const kBoards[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3",
    "8/8/8/8/8/8/8/K6k w - -",
    "r3k2r/8/8/3pP3/8/8/8/R3K2R w Kq d6",
};

TEST(PackedSfenLayoutTest, PositionBitsIgnoreBothMoveCountersAndNothingElse) {
  for (const std::string board : kBoards) {
    const PackedSfen first = PositionBitsOf(board + " 0 1");
    EXPECT_EQ(PositionBitsOf(board + " 127 65535"), first) << board;
    EXPECT_EQ(PositionBitsOf(board + " 100 300"), first) << board;
    // Only the counters differ: clearing them from the record gives its position bits.
    const PackedSfen record = Encode(board + " 0 1");
    const unsigned clock_bit = FindPackedSfenClockBit(record).value();
    PackedSfen without_counters = record;
    without_counters.bytes[(clock_bit + 6) / 8] &= ~(1U << ((clock_bit + 6) % 8));  // fullmove 1
    EXPECT_EQ(first, without_counters) << board;
  }
  const PackedSfen start = PositionBitsOf(std::string(kBoards[0]) + " 0 1");
  for (const char* other : {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR b KQkq - 0 1",
                            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w Qkq - 0 1",
                            "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBN1 w Qkq - 0 1"}) {
    EXPECT_NE(PositionBitsOf(other), start) << other;
  }
}

TEST(PackedSfenLayoutTest, AcceptsExactlyTheRecordsTheDecoderAccepts) {
  std::mt19937_64 random(7);
  const PackedSfen base = Encode("r3k2r/pppq1ppp/2n5/3pP3/8/2N5/PPPQ1PPP/R3K2R w KQkq d6 12 40");
  std::uint64_t accepted = 0;
  for (int trial = 0; trial < 20000; ++trial) {
    PackedSfen record = base;
    // A few flipped bits, or random bytes from some place onwards.
    if (trial % 2 == 0) {
      for (int flip = 0; flip < 1 + trial % 5; ++flip) {
        const unsigned bit = random() % kPackedSfenBits;
        record.bytes[bit / 8] ^= static_cast<std::uint8_t>(1U << (bit % 8));
      }
    } else {
      for (unsigned byte = random() % kPackedSfenSize; byte < kPackedSfenSize; ++byte) {
        record.bytes[byte] = static_cast<std::uint8_t>(random());
      }
    }
    const bool decodes = DecodePackedSfen(record).ok();
    ASSERT_EQ(FindPackedSfenClockBit(record).has_value(), decodes) << FormatPackedSfenHex(record);
    accepted += decodes;
  }
  EXPECT_GT(accepted, 1000U);
  EXPECT_LT(accepted, 19000U);
}

}  // namespace
}  // namespace boardmill::chess
