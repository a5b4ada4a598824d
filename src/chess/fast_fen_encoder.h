#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "chess/fen_fields.h"
#include "chess/fen_reading.h"
#include "chess/packed_sfen.h"
#include "chess/packed_sfen_bits.h"
#include "chess/piece.h"
#include "chess/position.h"
#include "util/result.h"

namespace boardmill::chess {

// What one pass over a FEN line learns: the board and the fields after it, plus the king squares
// and the occupancy word that the general route would have to scan the board again for.
struct FastPosition {
  std::array<Piece, kSquareCount> board{};
  FenState state;
  int white_king_square = kNoSquare;
  int black_king_square = kNoSquare;
  std::uint64_t occupancy = 0;
  // The record as ParseFenFast wrote it while reading the board: bits 0-12 still clear, the
  // board section from bit 13 on. A FastPosition filled by hand leaves it empty (nothing
  // written) and EncodeFastPosition codes `board` itself; whoever edits `board` of a parsed
  // FastPosition must empty it again (board_record = {}).
  PackedSfenBitWriter board_record;
};

struct FastEncodeResult {
  PackedSfen record;
  std::uint64_t occupancy = 0;    // equals Position::Occupancy() of the same board
  std::uint64_t routing_key = 0;  // occupancy >> 56: the eighth rank, a8 as bit 7
  bool lenient_only = false;      // the lenient reading accepts what the strict one refuses
};

// Same grammar, defaults and messages as ParseFen, in one pass.
util::Result<FastPosition> ParseFenFast(std::string_view text);
util::Result<FastEncodeResult> EncodeFastPosition(const FastPosition& position);
// The runners' per-line entry: succeeds exactly when ParseFen + EncodePackedSfen does, with the
// same record, or fails with the same message.
util::Result<FastEncodeResult> EncodeFenFast(std::string_view text);
// The same by the chosen reading; the lenient one agrees with ParseFen(text, FenReading) on
// record, message and `lenient_only`.
util::Result<FastEncodeResult> EncodeFenFast(std::string_view text, FenReading reading);

}  // namespace boardmill::chess
