#pragma once

#include <array>
#include <cstdint>

#include "chess/piece.h"

namespace boardmill::chess {

// A code of the record's board section, written least significant bit first.
struct HuffmanCode {
  std::uint8_t value;
  std::uint8_t width;
};

// Codes by piece type; kings have none (their squares are stored separately).
inline constexpr std::array<HuffmanCode, 6> kTypeCodes = {{
    {0, 1},  // empty square
    {1, 4},  // pawn
    {3, 4},  // knight
    {5, 4},  // bishop
    {7, 4},  // rook
    {9, 4},  // queen
}};

// The bits one square adds to the record: its code followed, for a piece, by the colour bit.
// Kings add nothing.
inline constexpr std::array<HuffmanCode, 13> kSquareCodes = [] {
  std::array<HuffmanCode, 13> codes{};
  codes[kNoPiece] = kTypeCodes[0];
  for (Piece piece = 1; piece <= 10; ++piece) {
    const HuffmanCode type = kTypeCodes[static_cast<int>(TypeOf(piece))];
    codes[piece] = {static_cast<std::uint8_t>(type.value | (ColorBit(piece) << type.width)),
                    static_cast<std::uint8_t>(type.width + 1)};
  }
  codes[kWhiteKing] = {0, 0};
  codes[kBlackKing] = {0, 0};
  return codes;
}();

}  // namespace boardmill::chess
