#pragma once

#include <string_view>

#include "chess/position.h"

namespace boardmill::chess {

// The board field's messages, shared with the fast encoder's own board reader.
inline constexpr const char* kMalformedSeparatorsMessage =
    "Board field has malformed rank separators.";
inline constexpr const char* kInvalidEmptyRunMessage =
    "Board field contains an invalid empty-square run.";
inline constexpr const char* kBoardOverflowMessage = "Board field overflows the board.";
inline constexpr const char* kInvalidPieceCharacterMessage =
    "Board field contains an invalid piece character.";
inline constexpr const char* kRankCountMessage = "Board field does not describe exactly 8 ranks.";

// Reads a FEN board field byte by byte, a8 first, and puts its pieces on `position`. Returns
// nullptr when the field describes exactly eight ranks of eight squares, otherwise the message
// for the first offending byte (or for the short board).
const char* ParseFenBoard(std::string_view board, Position& position);

}  // namespace boardmill::chess
