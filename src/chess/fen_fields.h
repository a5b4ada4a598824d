#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace boardmill::chess {

// The six positional fields of a FEN line, as views into the line. Missing trailing fields
// hold their defaults, so a board field alone is a complete FEN.
struct FenFields {
  std::string_view board;
  std::string_view active_color = "w";
  std::string_view castling = "-";
  std::string_view en_passant = "-";
  std::string_view halfmove_clock = "0";
  std::string_view fullmove_number = "1";
};

// Only the space character separates fields; at most six are taken and the rest of the text is
// ignored unread. Empty when there is no board field.
std::optional<FenFields> SplitFenFields(std::string_view text);

// The second to sixth fields, split from `rest`, the text that follows the board field, by the
// same rule; fields that `rest` does not hold keep their defaults.
void SplitFenFieldsAfterBoard(std::string_view rest, FenFields& fields);

// Everything a FEN line says besides the board.
struct FenState {
  std::uint8_t side_to_move = 0;
  std::uint8_t castling_rights = 0;
  int en_passant_square = -1;
  std::uint16_t halfmove_clock = 0;
  std::uint16_t fullmove_number = 1;
};

// Active colour, castling, en passant and the two clocks, checked in that order into `state`.
// Returns nullptr, or the message for the first field that fails; builds no string.
const char* ReadFenState(const FenFields& fields, FenState& state);

inline constexpr const char* kMissingBoardMessage = "FEN is missing the board field.";
inline constexpr const char* kKingCountMessage =
    "FEN must contain exactly one white king and one black king.";

}  // namespace boardmill::chess
