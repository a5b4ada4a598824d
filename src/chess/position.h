#pragma once

#include <array>
#include <cstdint>

#include "chess/piece.h"

namespace boardmill::chess {

// Square index = rank * 8 + file: a1 = 0, h1 = 7, a8 = 56, h8 = 63.
inline constexpr int kSquareCount = 64;
inline constexpr int kNoSquare = -1;

// Castling rights bits.
inline constexpr std::uint8_t kWhiteKingSide = 1;
inline constexpr std::uint8_t kWhiteQueenSide = 2;
inline constexpr std::uint8_t kBlackKingSide = 4;
inline constexpr std::uint8_t kBlackQueenSide = 8;

// Squares in the order a FEN board lists them: a8, b8, ... h8, a7, ... h1.
inline constexpr std::array<std::uint8_t, kSquareCount> kFenOrder = [] {
  std::array<std::uint8_t, kSquareCount> order{};
  for (int i = 0; i < kSquareCount; ++i) {
    order[i] = static_cast<std::uint8_t>((7 - i / 8) * 8 + i % 8);
  }
  return order;
}();

class Position {
 public:
  Piece PieceAt(int square) const { return board_[square]; }
  void SetPiece(int square, Piece piece) { board_[square] = piece; }
  const std::array<Piece, kSquareCount>& board() const { return board_; }

  bool HasExactlyOneKing(Color color) const;
  // The first square, counting up from a1, that holds the king of this colour, or -1.
  int KingSquare(Color color) const;
  // One bit per square in FEN order, a8 ending in bit 63 and h1 in bit 0.
  std::uint64_t Occupancy() const;

  std::uint8_t side_to_move() const { return side_to_move_; }
  void set_side_to_move(std::uint8_t side) { side_to_move_ = side; }
  std::uint8_t castling_rights() const { return castling_rights_; }
  void set_castling_rights(std::uint8_t rights) { castling_rights_ = rights; }
  int en_passant_square() const { return en_passant_square_; }
  void set_en_passant_square(int square) { en_passant_square_ = square; }
  std::uint16_t halfmove_clock() const { return halfmove_clock_; }
  void set_halfmove_clock(std::uint16_t clock) { halfmove_clock_ = clock; }
  std::uint16_t fullmove_number() const { return fullmove_number_; }
  void set_fullmove_number(std::uint16_t number) { fullmove_number_ = number; }

  friend bool operator==(const Position&, const Position&) = default;

 private:
  std::array<Piece, kSquareCount> board_{};
  std::uint8_t side_to_move_ = 0;
  std::uint8_t castling_rights_ = 0;
  int en_passant_square_ = kNoSquare;
  std::uint16_t halfmove_clock_ = 0;
  std::uint16_t fullmove_number_ = 1;
};

}  // namespace boardmill::chess
