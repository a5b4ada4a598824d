#pragma once

#include <optional>
#include <string_view>

#include "chess/fen_fields.h"

namespace boardmill::chess {

// The fields of a line by the lenient rules, as views into the line (or into constants):
// - runs of spaces and tabs separate fields; trailing spaces, tabs and NUL bytes are ignored;
// - board, active colour, castling and en passant are positional, a ';' glued to the en-passant
//   field ending it;
// - then the clocks: two numbers (a ';' glued to the second dropped), or one number alone, the
//   halfmove clock; a number with a glued ';' ends the clocks;
// - the rest is EPD operations or comments, not looked into except for `hmvc N` and `fmvn N`
//   outside double quotes, which set the clocks, the last one winning;
// - a fullmove number of 0 reads as 1.
// Missing fields keep the strict defaults. Empty when there is no board field.
std::optional<FenFields> SplitLenientFenFields(std::string_view line);

}  // namespace boardmill::chess
