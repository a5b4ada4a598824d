#pragma once

#include <optional>
#include <string_view>

#include "chess/fen_reading.h"
#include "chess/position.h"
#include "util/result.h"

namespace boardmill::chess {

// Strict about the board and the fields it reads, lenient about the rest: fields beyond the
// sixth are ignored and missing trailing fields take their defaults. No chess legality is
// checked beyond one king of each colour and the rank of an en-passant square.
util::Result<Position> ParseFen(std::string_view text);

struct ParsedFen {
  Position position;
  bool lenient_only = false;  // the lenient reading accepts what the strict one refuses
};

// ParseFen by the chosen reading (see FenReading); the lenient one takes the same board and
// field rules and messages after its own field splitting (SplitLenientFenFields).
util::Result<ParsedFen> ParseFen(std::string_view text, FenReading reading);

// Exactly two bytes, a lower-case file letter a-h and a rank digit 1-8.
std::optional<int> ParseSquare(std::string_view text);

}  // namespace boardmill::chess
