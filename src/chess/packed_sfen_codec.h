#pragma once

#include <array>
#include <string>

#include "chess/fen_fields.h"
#include "chess/packed_sfen.h"
#include "chess/packed_sfen_bits.h"
#include "chess/position.h"
#include "util/result.h"

namespace boardmill::chess {

// The record stores the halfmove clock in 7 bits.
inline constexpr unsigned kMaxPackedHalfmoveClock = 127;
inline constexpr const char* kRule50CapacityMessage =
    "Rule-50 counter exceeds PackedSfen capacity.";

// The full encoder: finds the kings on the board itself.
util::Result<PackedSfen> EncodePackedSfen(const Position& position);

util::Result<Position> DecodePackedSfen(const PackedSfen& record);

// The two halves of writing a record, shared by both encoding routes so that they agree bit for
// bit and share the capacity message.
//
// A writer whose cursor stands at the start of the board section, bits 0-12 (side to move and
// king squares) left clear for FinishPackedSfenRecord.
inline PackedSfenBitWriter StartPackedSfenBoard() {
  constexpr unsigned kBoardStartBit = 13;
  PackedSfenBitWriter writer;
  writer.Skip(kBoardStartBit);
  return writer;
}
// The board section of a board whose occupancy word (as Position::Occupancy() computes it) is
// already known, after StartPackedSfenBoard.
PackedSfenBitWriter WritePackedSfenBoard(const std::array<Piece, kSquareCount>& board,
                                         std::uint64_t occupancy);
// Fills bits 0-12 and writes the fields after the board. The halfmove clock must already be
// known to be at most 127 and the king squares to lie on the board.
util::Result<PackedSfen> FinishPackedSfenRecord(PackedSfenBitWriter writer, const FenState& state,
                                                int white_king_square, int black_king_square);

}  // namespace boardmill::chess
