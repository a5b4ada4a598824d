#include "chess/fen_fields.h"

#include <algorithm>
#include <array>

#include "chess/fen_parser.h"

namespace boardmill::chess {

namespace {

constexpr std::size_t kFieldCount = 6;

// Digits only, value at most 65535; leading zeros are fine.
std::optional<std::uint16_t> ParseCounter(std::string_view text) {
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<std::uint8_t> ParseCastling(std::string_view text) {
  if (text == "-") return std::uint8_t{0};
  std::uint8_t rights = 0;
  for (const char c : text) {
    switch (c) {
      case 'K':
        rights |= 1;
        break;
      case 'Q':
        rights |= 2;
        break;
      case 'k':
        rights |= 4;
        break;
      case 'q':
        rights |= 8;
        break;
      default:
        return std::nullopt;
    }
  }
  return rights;
}

}  // namespace

std::optional<FenFields> SplitFenFields(std::string_view text) {
  const std::size_t board_start = text.find_first_not_of(' ');
  if (board_start == std::string_view::npos) return std::nullopt;
  const std::size_t board_end = std::min(text.find(' ', board_start), text.size());
  FenFields fields;
  fields.board = text.substr(board_start, board_end - board_start);
  SplitFenFieldsAfterBoard(text.substr(board_end), fields);
  return fields;
}

void SplitFenFieldsAfterBoard(std::string_view rest, FenFields& fields) {
  const std::array<std::string_view*, kFieldCount - 1> slots = {
      &fields.active_color, &fields.castling, &fields.en_passant, &fields.halfmove_clock,
      &fields.fullmove_number};
  std::size_t pos = 0;
  for (std::string_view* slot : slots) {
    while (pos < rest.size() && rest[pos] == ' ') ++pos;
    if (pos == rest.size()) return;
    const std::size_t start = pos;
    while (pos < rest.size() && rest[pos] != ' ') ++pos;
    *slot = rest.substr(start, pos - start);
  }
}

const char* ReadFenState(const FenFields& fields, FenState& state) {
  if (fields.active_color == "w") {
    state.side_to_move = 0;
  } else if (fields.active_color == "b") {
    state.side_to_move = 1;
  } else {
    return "Active color must be 'w' or 'b'.";
  }

  const std::optional<std::uint8_t> castling = ParseCastling(fields.castling);
  if (!castling) return "Castling field contains an invalid flag.";
  state.castling_rights = *castling;

  if (fields.en_passant != "-") {
    const std::optional<int> square = ParseSquare(fields.en_passant);
    if (!square) return "En passant field is not a valid square.";
    const int rank = *square / 8;
    if (rank != 2 && rank != 5) return "En passant square must be on rank 3 or 6.";
    state.en_passant_square = *square;
  }

  const std::optional<std::uint16_t> halfmove = ParseCounter(fields.halfmove_clock);
  if (!halfmove) return "Halfmove clock is invalid.";
  state.halfmove_clock = *halfmove;

  const std::optional<std::uint16_t> fullmove = ParseCounter(fields.fullmove_number);
  if (!fullmove || *fullmove == 0) return "Fullmove number is invalid.";
  state.fullmove_number = *fullmove;
  return nullptr;
}

}  // namespace boardmill::chess
