#include "chess/packed_sfen_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "chess/fast_fen_encoder.h"
#include "chess/fen_format.h"
#include "chess/fen_parser.h"

namespace boardmill::chess {
namespace {

constexpr char kTooManyPiecesMessage[] =
    "Position has too many pieces to fit in a PackedSfen record.";
constexpr char kOverrunMessage[] = "PackedSfen fields run past the end of the record.";

bool BitAt(const PackedSfen& record, unsigned bit) {
  return ((record.bytes[bit / 8] >> (bit % 8)) & 1U) != 0;
}

void FlipBit(PackedSfen& record, unsigned bit) {
  record.bytes[bit / 8] = static_cast<std::uint8_t>(record.bytes[bit / 8] ^ (1U << (bit % 8)));
}

// Writes `width` bits of `value`, least significant first, from bit `at` on, dropping those
// that fall past the end of the record; returns the next bit.
unsigned PutBits(PackedSfen& record, unsigned at, std::uint32_t value, unsigned width) {
  for (unsigned i = 0; i < width && at + i < 256; ++i) {
    if (((value >> i) & 1U) != BitAt(record, at + i)) FlipBit(record, at + i);
  }
  return at + width;
}

Position MustParse(const std::string& fen) {
  util::Result<Position> position = ParseFen(fen);
  EXPECT_TRUE(position.ok()) << fen << ": " << position.error();
  return position.ok() ? *position : Position{};
}

PackedSfen MustEncode(const Position& position) {
  util::Result<PackedSfen> record = EncodePackedSfen(position);
  EXPECT_TRUE(record.ok()) << FormatFen(position) << ": " << record.error();
  return record.ok() ? *record : PackedSfen{};
}

Position MustDecode(const PackedSfen& record) {
  util::Result<Position> position = DecodePackedSfen(record);
  EXPECT_TRUE(position.ok()) << FormatPackedSfenHex(record) << ": " << position.error();
  return position.ok() ? *position : Position{};
}

// The record's fields end exactly at `bits_used`: nothing is set beyond it, the last field bit
// (the high bit of the halfmove clock) matters, and whatever follows it is ignored on decoding.
void ExpectFieldsEndAt(const PackedSfen& record, unsigned bits_used) {
  for (unsigned bit = bits_used; bit < 256; ++bit) ASSERT_FALSE(BitAt(record, bit)) << bit;
  const Position position = MustDecode(record);

  PackedSfen last_bit_flipped = record;
  FlipBit(last_bit_flipped, bits_used - 1);
  EXPECT_EQ(MustDecode(last_bit_flipped).halfmove_clock(), position.halfmove_clock() ^ 64U);

  if (bits_used < 256) {
    PackedSfen trailing_bit_set = record;
    FlipBit(trailing_bit_set, bits_used);
    EXPECT_EQ(MustDecode(trailing_bit_set), position);
  }
}

struct WorkedExample {
  const char* fen;
  unsigned bits_used;
  const char* hex;
};

class WorkedExampleTest : public ::testing::TestWithParam<WorkedExample> {};

TEST_P(WorkedExampleTest, BothRoutesWriteTheDocumentedRecord) {
  const PackedSfen record = MustEncode(MustParse(GetParam().fen));
  EXPECT_EQ(FormatPackedSfenHex(record), GetParam().hex);
  const util::Result<FastEncodeResult> fast = EncodeFenFast(GetParam().fen);
  ASSERT_TRUE(fast.ok()) << fast.error();
  EXPECT_EQ(FormatPackedSfenHex(fast->record), GetParam().hex);
}

TEST_P(WorkedExampleTest, RecordUsesTheDocumentedNumberOfBits) {
  ExpectFieldsEndAt(MustEncode(MustParse(GetParam().fen)), GetParam().bits_used);
}

TEST_P(WorkedExampleTest, RecordDecodesToTheParsedPosition) {
  const Position position = MustParse(GetParam().fen);
  EXPECT_EQ(MustDecode(MustEncode(position)), position);
}

INSTANTIATE_TEST_SUITE_P(
    Documented, WorkedExampleTest,
    ::testing::Values(
        WorkedExample{"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", 223,
                      "08fece9aebbc31c618638c000000002184104208679454c67940000000000000"},
        WorkedExample{"rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1", 229,
                      "09fece9aebbc31c618638c000010001042084208679454c6f914100000000000"},
        WorkedExample{"8/8/8/8/8/8/8/K6k w - - 0 1", 103,
                      "8003000000000000000040000000000000000000000000000000000000000000"},
        WorkedExample{"8/8/8/8/8/8/8/K6k b - - 100 300", 103,
                      "81030000000000000000244b4000000000000000000000000000000000000000"}));

TEST(FormatFenTest, PrintsCastlingInCanonicalOrderAndAnyEnPassantSquare) {
  Position position = MustParse("8/8/8/8/8/8/8/K6k");
  position.set_castling_rights(15);
  EXPECT_EQ(FormatFen(position), "8/8/8/8/8/8/8/K6k w KQkq - 0 1");
  position.set_castling_rights(5);
  EXPECT_EQ(FormatFen(position), "8/8/8/8/8/8/8/K6k w Kk - 0 1");
  position.set_castling_rights(10);
  position.set_en_passant_square(0);
  EXPECT_EQ(FormatFen(position), "8/8/8/8/8/8/8/K6k w Qq a1 0 1");
  position.set_en_passant_square(63);
  EXPECT_EQ(FormatFen(position), "8/8/8/8/8/8/8/K6k w Qq h8 0 1");
  position.set_en_passant_square(64);
  EXPECT_EQ(FormatFen(position), "8/8/8/8/8/8/8/K6k w Qq - 0 1");
}

TEST(EncodePackedSfenTest, KeepsCountersAtTheirLimits) {
  Position position = MustParse("4k3/8/8/8/8/8/8/4K3 b - - 127 65535");
  const Position decoded = MustDecode(MustEncode(position));
  EXPECT_EQ(decoded.halfmove_clock(), 127);
  EXPECT_EQ(decoded.fullmove_number(), 65535);
  EXPECT_EQ(decoded, position);
}

TEST(EncodePackedSfenTest, KeepsAnOutOfRangeEnPassantSquareInsideItsSixBits) {
  // A Position may carry any int as its en-passant square. Only six bits of it are stored; the
  // rest must not spill into the clocks that follow, on either route.
  const char* fen = "4k3/8/8/8/8/8/8/4K3 b Kq - 100 300";
  Position position = MustParse(fen);
  util::Result<FastPosition> fast_position = ParseFenFast(fen);
  ASSERT_TRUE(fast_position.ok());
  for (const int square : {64, 1000, -2}) {
    position.set_en_passant_square(square);
    const PackedSfen record = MustEncode(position);
    const Position decoded = MustDecode(record);
    EXPECT_EQ(decoded.en_passant_square(), square & 63) << square;
    EXPECT_EQ(decoded.halfmove_clock(), 100) << square;
    EXPECT_EQ(decoded.fullmove_number(), 300) << square;
    EXPECT_EQ(decoded.castling_rights(), 9) << square;

    fast_position->state.en_passant_square = square;
    const util::Result<FastEncodeResult> fast = EncodeFastPosition(*fast_position);
    ASSERT_TRUE(fast.ok()) << fast.error();
    EXPECT_EQ(fast->record, record) << square;
  }
}

// A Position that the encoder refuses, with its message. The FEN parser never builds the first
// ones; the encoder guards itself.
struct RefusedPosition {
  const char* name;
  const char* fen;
  void (*tamper)(Position&);
  const char* message;
};

class EncodeRefusesTest : public ::testing::TestWithParam<RefusedPosition> {};

TEST_P(EncodeRefusesTest, ReturnsTheMessage) {
  Position position = MustParse(GetParam().fen);
  GetParam().tamper(position);
  const util::Result<PackedSfen> record = EncodePackedSfen(position);
  ASSERT_FALSE(record.ok());
  EXPECT_EQ(record.error(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Checks, EncodeRefusesTest,
    ::testing::Values(
        RefusedPosition{"TwoWhiteKings", "4k3/8/8/8/8/8/8/4K3",
                        [](Position& p) { p.SetPiece(0, kWhiteKing); },
                        "Position must contain exactly one king of each color."},
        RefusedPosition{"NoBlackKing", "4k3/8/8/8/8/8/8/4K3",
                        [](Position& p) { p.SetPiece(60, kNoPiece); },
                        "Position must contain exactly one king of each color."},
        RefusedPosition{"HalfmoveClock128", "4k3/8/8/8/8/8/8/4K3 w - - 128 1", [](Position&) {},
                        "Rule-50 counter exceeds PackedSfen capacity."},
        RefusedPosition{"HalfmoveClock65535", "4k3/8/8/8/8/8/8/4K3 w - - 65535 1", [](Position&) {},
                        "Rule-50 counter exceeds PackedSfen capacity."},
        RefusedPosition{"FullmoveZero", "4k3/8/8/8/8/8/8/4K3",
                        [](Position& p) { p.set_fullmove_number(0); },
                        "Fullmove number must be at least 1."},
        // The checks run in a fixed order: kings, then the clock, then the move number.
        RefusedPosition{"KingsBeforeClock", "4k3/8/8/8/8/8/8/4K3 w - - 200 1",
                        [](Position& p) {
                          p.SetPiece(60, kNoPiece);
                          p.set_fullmove_number(0);
                        },
                        "Position must contain exactly one king of each color."},
        RefusedPosition{"ClockBeforeMoveNumber", "4k3/8/8/8/8/8/8/4K3 w - - 200 1",
                        [](Position& p) { p.set_fullmove_number(0); },
                        "Rule-50 counter exceeds PackedSfen capacity."}),
    [](const ::testing::TestParamInfo<RefusedPosition>& info) { return info.param.name; });

TEST(EncodeFenFastTest, RefusesAClockTheRecordCannotHold) {
  for (const char* fen : {"4k3/8/8/8/8/8/8/4K3 w - - 128 1", "4k3/8/8/8/8/8/8/4K3 w - - 200 1"}) {
    const util::Result<FastEncodeResult> fast = EncodeFenFast(fen);
    ASSERT_FALSE(fast.ok()) << fen;
    EXPECT_EQ(fast.error(), "Rule-50 counter exceeds PackedSfen capacity.");
  }
  EXPECT_TRUE(EncodeFenFast("4k3/8/8/8/8/8/8/4K3 w - - 127 1").ok());
}

// A board with kings on e1 and e8 and `pieces` further pieces on the first free squares in FEN
// order, cycling through all ten non-king pieces.
std::string CrowdedFen(int pieces, bool en_passant) {
  static constexpr char kNonKings[] = "PpNnBbRrQq";
  std::string board;
  int placed = 0;
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const int square = rank * 8 + file;
      char letter = 0;
      if (square == 4) {
        letter = 'K';
      } else if (square == 60) {
        letter = 'k';
      } else if (placed < pieces) {
        letter = kNonKings[placed++ % 10];
      }
      if (letter == 0) {
        ++empty;
        continue;
      }
      if (empty > 0) board += std::to_string(empty);
      empty = 0;
      board.push_back(letter);
    }
    if (empty > 0) board += std::to_string(empty);
    if (rank > 0) board.push_back('/');
  }
  return board + (en_passant ? " b Kq e6 9 77" : " b Kq - 9 77");
}

struct CapacityCase {
  int pieces;
  bool en_passant;
  bool fits;
};

void PrintTo(const CapacityCase& c, std::ostream* out) {
  *out << c.pieces << " pieces" << (c.en_passant ? " with en passant" : "");
}

class CapacityTest : public ::testing::TestWithParam<CapacityCase> {};

TEST_P(CapacityTest, BothRoutesAgreeOnWhatFits) {
  const std::string fen = CrowdedFen(GetParam().pieces, GetParam().en_passant);
  const Position position = MustParse(fen);
  const util::Result<PackedSfen> general = EncodePackedSfen(position);
  const util::Result<FastEncodeResult> fast = EncodeFenFast(fen);
  if (!GetParam().fits) {
    ASSERT_FALSE(general.ok()) << fen;
    ASSERT_FALSE(fast.ok()) << fen;
    EXPECT_EQ(general.error(), kTooManyPiecesMessage);
    EXPECT_EQ(fast.error(), kTooManyPiecesMessage);
    return;
  }
  ASSERT_TRUE(general.ok()) << fen << ": " << general.error();
  ASSERT_TRUE(fast.ok()) << fen << ": " << fast.error();
  EXPECT_EQ(fast->record, *general);
  EXPECT_EQ(MustDecode(*general), position);
  const unsigned bits_used = 103 + 4 * GetParam().pieces + (GetParam().en_passant ? 6 : 0);
  ExpectFieldsEndAt(*general, bits_used);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, CapacityTest,
    ::testing::Values(CapacityCase{30, true, true}, CapacityCase{36, true, true},
                      CapacityCase{36, false, true}, CapacityCase{37, false, true},
                      CapacityCase{37, true, false}, CapacityCase{38, false, true},
                      CapacityCase{38, true, false}, CapacityCase{39, false, false},
                      CapacityCase{39, true, false}, CapacityCase{62, false, false}));

TEST(CapacityOrderTest, OtherEncoderChecksAreReportedFirst) {
  std::string fen = CrowdedFen(62, true);
  fen.replace(fen.find(" 9 77"), 5, " 200 77");
  const Position position = MustParse(fen);
  const util::Result<PackedSfen> general = EncodePackedSfen(position);
  const util::Result<FastEncodeResult> fast = EncodeFenFast(fen);
  ASSERT_FALSE(general.ok());
  ASSERT_FALSE(fast.ok());
  EXPECT_EQ(general.error(), "Rule-50 counter exceeds PackedSfen capacity.");
  EXPECT_EQ(fast.error(), "Rule-50 counter exceeds PackedSfen capacity.");
}

// The record of kings on a1 and h1 on an otherwise empty board, for tampering with.
PackedSfen KingsOnlyRecord() { return MustEncode(MustParse("8/8/8/8/8/8/8/K6k")); }

TEST(DecodePackedSfenTest, RefusesKingsOnOneSquare) {
  const util::Result<Position> zeros = DecodePackedSfen(PackedSfen{});
  ASSERT_FALSE(zeros.ok());
  EXPECT_EQ(zeros.error(), "PackedSfen contains invalid king squares.");

  PackedSfen record = KingsOnlyRecord();
  PutBits(record, 7, 0, 6);  // black king onto a1, where the white king is
  const util::Result<Position> same_square = DecodePackedSfen(record);
  ASSERT_FALSE(same_square.ok());
  EXPECT_EQ(same_square.error(), "PackedSfen contains invalid king squares.");
}

TEST(DecodePackedSfenTest, RefusesCodesWithoutAPiece) {
  // After a first bit 1, the four-bit values 11, 13 and 15 name no piece.
  for (const std::uint32_t code : {11U, 13U, 15U}) {
    PackedSfen record = KingsOnlyRecord();
    PutBits(record, 13, code, 4);
    const util::Result<Position> position = DecodePackedSfen(record);
    ASSERT_FALSE(position.ok()) << code;
    EXPECT_EQ(position.error(), "PackedSfen contains an invalid Huffman-coded piece.") << code;
  }
}

TEST(DecodePackedSfenTest, ReadsAStoredFullmoveZeroAsOne) {
  PackedSfen record = KingsOnlyRecord();
  ASSERT_EQ(MustDecode(record).fullmove_number(), 1);
  PutBits(record, 86, 0, 16);  // the fullmove field of a board without pieces or en passant
  EXPECT_EQ(MustDecode(record).fullmove_number(), 1);
  // Such a record did not come from the encoder and does not re-encode to itself.
  EXPECT_NE(MustEncode(MustDecode(record)), record);
}

TEST(DecodePackedSfenTest, IgnoresBitsAfterTheLastField) {
  PackedSfen record = KingsOnlyRecord();
  const Position position = MustDecode(record);
  for (unsigned bit = 103; bit < 256; ++bit) PutBits(record, bit, 1, 1);
  EXPECT_EQ(MustDecode(record), position);
}

TEST(DecodePackedSfenTest, KeepsAnEnPassantSquareOnAnyRank) {
  // Only the FEN parser checks the rank: a Position may carry any square, and its record
  // decodes to a position that prints it unchanged.
  Position position = MustParse("4k3/8/8/8/8/8/8/4K3");
  for (const auto& [square, name] : {std::pair{0, "a1"}, {11, "d2"}, {35, "d5"}, {63, "h8"}}) {
    position.set_en_passant_square(square);
    const Position decoded = MustDecode(MustEncode(position));
    EXPECT_EQ(decoded.en_passant_square(), square);
    EXPECT_EQ(FormatFen(decoded), std::string("4k3/8/8/8/8/8/8/4K3 w - ") + name + " 0 1");
  }
}

// Records whose codes would carry the decoder past bit 255.
struct RunawayRecord {
  const char* name;
  PackedSfen (*make)();
};

class DecodeRunawayTest : public ::testing::TestWithParam<RunawayRecord> {};

TEST_P(DecodeRunawayTest, IsRefused) {
  const util::Result<Position> position = DecodePackedSfen(GetParam().make());
  ASSERT_FALSE(position.ok());
  EXPECT_EQ(position.error(), kOverrunMessage);
}

// Sets the en-passant flag of a record written without one: the square and the counters then
// need six more bits than the record has left.
PackedSfen WithEnPassantFlagSet(int pieces) {
  PackedSfen record = MustEncode(MustParse(CrowdedFen(pieces, false)));
  const unsigned bits_used = 103 + 4 * static_cast<unsigned>(pieces);
  PutBits(record, bits_used - 24, 1, 1);
  return record;
}

INSTANTIATE_TEST_SUITE_P(
    PastTheEnd, DecodeRunawayTest,
    ::testing::Values(
        // Every square a white pawn: 62 codes of five bits cannot fit after the header.
        RunawayRecord{"AllPawns",
                      [] {
                        PackedSfen record = KingsOnlyRecord();
                        for (unsigned at = 13; at < 256;) at = PutBits(record, at, 1, 5);
                        return record;
                      }},
        // Every square a black queen, the last code cut off by the end of the record.
        RunawayRecord{"AllQueens",
                      [] {
                        PackedSfen record = KingsOnlyRecord();
                        for (unsigned at = 13; at < 256;) at = PutBits(record, at, 25, 5);
                        return record;
                      }},
        RunawayRecord{"FlagAfter37Pieces", [] { return WithEnPassantFlagSet(37); }},
        RunawayRecord{"FlagAfter38Pieces", [] { return WithEnPassantFlagSet(38); }}),
    [](const ::testing::TestParamInfo<RunawayRecord>& info) { return info.param.name; });

TEST(DecodePackedSfenTest, AcceptsAnEnPassantFlagThatStillFits) {
  // 36 pieces leave room for the six extra bits; the square is read from the bits that held
  // the halfmove clock, 9.
  const Position decoded = MustDecode(WithEnPassantFlagSet(36));
  EXPECT_EQ(decoded.en_passant_square(), 9);
}

}  // namespace
}  // namespace boardmill::chess
