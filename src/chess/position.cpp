#include "chess/position.h"

#include <algorithm>

namespace boardmill::chess {

namespace {

Piece KingOf(Color color) { return color == Color::kWhite ? kWhiteKing : kBlackKing; }

}  // namespace

bool Position::HasExactlyOneKing(Color color) const {
  return std::count(board_.begin(), board_.end(), KingOf(color)) == 1;
}

int Position::KingSquare(Color color) const {
  const auto it = std::find(board_.begin(), board_.end(), KingOf(color));
  return it == board_.end() ? kNoSquare : static_cast<int>(it - board_.begin());
}

std::uint64_t Position::Occupancy() const {
  std::uint64_t occupancy = 0;
  for (const std::uint8_t square : kFenOrder) {
    occupancy = (occupancy << 1) | (board_[square] != kNoPiece ? 1U : 0U);
  }
  return occupancy;
}

}  // namespace boardmill::chess
