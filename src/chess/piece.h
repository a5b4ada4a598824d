#pragma once

#include <array>
#include <cstdint>

namespace boardmill::chess {

// One byte per square: 0 empty, white pieces odd, black pieces even, the two colours of a type
// adjacent (1 P, 2 p, 3 N, 4 n, 5 B, 6 b, 7 R, 8 r, 9 Q, 10 q, 11 K, 12 k).
using Piece = std::uint8_t;

inline constexpr Piece kNoPiece = 0;
inline constexpr Piece kWhiteKing = 11;
inline constexpr Piece kBlackKing = 12;

enum class PieceType : std::uint8_t { kNone = 0, kPawn, kKnight, kBishop, kRook, kQueen, kKing };

enum class Color : std::uint8_t { kWhite = 0, kBlack = 1 };

constexpr PieceType TypeOf(Piece piece) { return static_cast<PieceType>((piece + 1) / 2); }

// Colour bit of a non-empty piece: 0 white (odd codes), 1 black (even codes).
constexpr std::uint8_t ColorBit(Piece piece) { return piece % 2 == 0 ? 1 : 0; }

constexpr Piece MakePiece(PieceType type, std::uint8_t color_bit) {
  return static_cast<Piece>(2 * static_cast<int>(type) - 1 + color_bit);
}

constexpr bool IsKing(Piece piece) { return piece == kWhiteKing || piece == kBlackKing; }

inline constexpr char kPieceLetters[] = " PpNnBbRrQqKk";

// FEN letter to piece code; 0 for every byte that is not one of the twelve piece letters.
inline constexpr std::array<Piece, 256> kPieceFromLetter = [] {
  std::array<Piece, 256> table{};
  for (int code = 1; code <= 12; ++code) {
    table[static_cast<unsigned char>(kPieceLetters[code])] = static_cast<Piece>(code);
  }
  return table;
}();

}  // namespace boardmill::chess
