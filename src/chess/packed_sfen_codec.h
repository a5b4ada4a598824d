#pragma once

#include <array>
#include <string>

#include "chess/fen_fields.h"
#include "chess/packed_sfen.h"
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

// Writes the record of a board whose king squares and occupancy word (as Position::Occupancy()
// computes it) are already known. Both encoding routes end here, so they agree bit for bit and
// share the capacity message. The halfmove clock must already be known to be at most 127.
util::Result<PackedSfen> WritePackedSfenRecord(const std::array<Piece, kSquareCount>& board,
                                               std::uint64_t occupancy, const FenState& state,
                                               int white_king_square, int black_king_square);

}  // namespace boardmill::chess
