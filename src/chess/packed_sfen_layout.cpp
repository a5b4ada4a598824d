#include "chess/packed_sfen_layout.h"

#include <algorithm>
#include <array>
#include <bit>
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

  // The 64 bits from `position` on, the first in the lowest bit.
  std::uint64_t Window(unsigned position) const {
    const unsigned word = position / 64;
    const unsigned shift = position % 64;
    const std::uint64_t bits = words_[word] >> shift;
    return shift == 0 ? bits : bits | words_[word + 1] << (64 - shift);
  }

  // `width` (at most 8) bits from `position`.
  unsigned Read(unsigned position, unsigned width) const {
    return static_cast<unsigned>(Window(position) & ((1U << width) - 1));
  }

 private:
  std::array<std::uint64_t, 7> words_{};
};

// A piece's four code bits, first bit set: pawn 1, knight 3, bishop 5, rook 7, queen 9.
bool IsPieceCode(unsigned code) { return code <= 9; }

}  // namespace

std::optional<unsigned> FindPackedSfenClockBit(const PackedSfen& record) {
  const RecordBits bits(record);
  if (bits.Read(1, 6) == bits.Read(7, 6)) return std::nullopt;  // both kings on one square
  unsigned cursor = kBoardStartBit;
  unsigned squares_left = kNonKingSquares;
  while (squares_left > 0) {
    const std::uint64_t window = bits.Window(cursor);
    if ((window & 1) == 0) {  // a run of empty squares, one 0 bit each, taken at once
      const unsigned run =
          std::min<unsigned>(static_cast<unsigned>(std::countr_zero(window)), squares_left);
      cursor += run;
      squares_left -= run;
      continue;
    }
    if (!IsPieceCode(static_cast<unsigned>(window & 0xF)) ||
        cursor + kPieceBits > kPackedSfenBits) {
      return std::nullopt;
    }
    cursor += kPieceBits;
    --squares_left;
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
