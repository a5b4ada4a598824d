#include "chess/packed_sfen_layout.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "chess/packed_sfen_bits.h"

namespace boardmill::chess {

namespace {

constexpr unsigned kBoardStartBit = 13;
constexpr unsigned kNonKingSquares = 62;
constexpr unsigned kPieceBits = 5;     // four code bits and the colour bit
constexpr unsigned kCastlingBits = 4;  // then the en-passant flag
constexpr unsigned kEnPassantSquareBits = 6;

// The record's bits as four little-endian words, then zeros far enough that a walk which has run
// past the end (by at most one bit per square) still reads without a bounds check.
class RecordBits {
 public:
  explicit RecordBits(const PackedSfen& record) {
    for (unsigned i = 0; i < kPackedSfenSize; ++i) {
      words_[i / 8] |= static_cast<std::uint64_t>(record.bytes[i]) << (8 * (i % 8));
    }
  }

  // `width` (at most 8) bits from `position`, least significant first.
  unsigned Read(unsigned position, unsigned width) const {
    const unsigned word = position / 64;
    const unsigned shift = position % 64;
    std::uint64_t bits = words_[word] >> shift;
    if (shift != 0) bits |= words_[word + 1] << (64 - shift);
    return static_cast<unsigned>(bits & ((1U << width) - 1));
  }

 private:
  std::array<std::uint64_t, 6> words_{};
};

// A piece's four code bits, first bit set: pawn 1, knight 3, bishop 5, rook 7, queen 9.
bool IsPieceCode(unsigned code) { return code <= 9; }

}  // namespace

std::optional<unsigned> FindPackedSfenClockBit(const PackedSfen& record) {
  const RecordBits bits(record);
  if (bits.Read(1, 6) == bits.Read(7, 6)) return std::nullopt;  // both kings on one square
  unsigned cursor = kBoardStartBit;
  for (unsigned square = 0; square < kNonKingSquares; ++square) {
    if (bits.Read(cursor, 1) == 0) {
      ++cursor;
      continue;
    }
    if (!IsPieceCode(bits.Read(cursor, 4)) || cursor + kPieceBits > kPackedSfenBits) {
      return std::nullopt;
    }
    cursor += kPieceBits;
  }
  cursor += kCastlingBits;
  if (cursor >= kPackedSfenBits) return std::nullopt;
  cursor += 1 + (bits.Read(cursor, 1) != 0 ? kEnPassantSquareBits : 0);
  if (cursor + kPackedSfenClockBits > kPackedSfenBits) return std::nullopt;
  return cursor;
}

PackedSfen PackedSfenPositionBits(const PackedSfen& record, unsigned clock_bit) {
  PackedSfen position;
  const unsigned whole_bytes = clock_bit / 8;
  std::memcpy(position.bytes.data(), record.bytes.data(), whole_bytes);
  if (clock_bit % 8 != 0) {
    const unsigned kept = (1U << (clock_bit % 8)) - 1;
    position.bytes[whole_bytes] = static_cast<std::uint8_t>(record.bytes[whole_bytes] & kept);
  }
  return position;
}

}  // namespace boardmill::chess
