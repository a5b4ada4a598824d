#pragma once

#include <optional>

#include "chess/packed_sfen.h"

namespace boardmill::chess {

// The move counters sit at the end of a record, after the board, castling rights and en-passant
// square, 23 bits in all (halfmove bits 0-5, fullmove 16 bits, halfmove bit 6); where they
// start depends on how many pieces the board holds.
inline constexpr unsigned kPackedSfenClockBits = 23;

// The bit at which the move counters of `record` start, found by walking the board's codes
// without decoding them into a position. Empty for a record DecodePackedSfen refuses (equal king
// squares, an invalid piece code, fields running past the end), so that this one walk both
// checks a record and tells which of its bits are the position.
std::optional<unsigned> FindPackedSfenClockBit(const PackedSfen& record);

// The record with its move counters and every bit after them cleared: two records describe the
// same position (board, side to move, castling rights, en-passant square) exactly when their
// position bits are equal. `clock_bit` is what FindPackedSfenClockBit found.
PackedSfen PackedSfenPositionBits(const PackedSfen& record, unsigned clock_bit);

}  // namespace boardmill::chess
