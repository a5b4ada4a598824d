#include "library/record_encoder.h"

#include <algorithm>
#include <string>

#include "chess/packed_sfen_codec.h"
#include "chess/position.h"

namespace boardmill::library {

namespace {

// The position of row `i`, or why the columns hold values no position has.
util::Result<chess::Position> PositionAt(const boardmill_positions& in, std::size_t i) {
  chess::Position position;
  const std::uint8_t* pieces = in.pieces + i * chess::kSquareCount;
  for (int square = 0; square < chess::kSquareCount; ++square) {
    if (pieces[square] > chess::kBlackKing) {
      return util::Fail("piece code " + std::to_string(pieces[square]) + " on square " +
                        std::to_string(square) + " is not 0-12.");
    }
    position.SetPiece(square, pieces[square]);
  }
  if (in.side_to_move[i] > 1) return util::Fail("side to move is neither 0 nor 1.");
  if (in.castling[i] > 15) return util::Fail("castling rights above 15.");
  if (in.ep_square[i] < -1 || in.ep_square[i] >= chess::kSquareCount) {
    return util::Fail("en-passant square is neither -1 nor 0-63.");
  }
  position.set_side_to_move(in.side_to_move[i]);
  position.set_castling_rights(in.castling[i]);
  position.set_en_passant_square(in.ep_square[i]);
  position.set_halfmove_clock(in.halfmove[i]);
  position.set_fullmove_number(in.fullmove[i]);
  return position;
}

util::Result<chess::PackedSfen> EncodeRow(const boardmill_positions& in, std::size_t i) {
  const util::Result<chess::Position> position = PositionAt(in, i);
  if (!position) return util::Fail(position.error());
  return chess::EncodePackedSfen(*position);
}

}  // namespace

util::Result<void> EncodeRecords(const boardmill_positions& in, std::size_t count,
                                 std::uint8_t* records) {
  for (std::size_t i = 0; i < count; ++i) {
    const util::Result<chess::PackedSfen> record = EncodeRow(in, i);
    if (!record) {
      return util::Fail("Position " + std::to_string(i) + " cannot be encoded: " + record.error());
    }
    std::copy(record->bytes.begin(), record->bytes.end(), records + i * chess::kPackedSfenSize);
  }
  return {};
}

}  // namespace boardmill::library
