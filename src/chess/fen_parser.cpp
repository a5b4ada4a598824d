#include "chess/fen_parser.h"

#include "chess/fen_board.h"
#include "chess/fen_fields.h"

namespace boardmill::chess {

std::optional<int> ParseSquare(std::string_view text) {
  if (text.size() != 2) return std::nullopt;
  const char file = text[0];
  const char rank = text[1];
  if (file < 'a' || file > 'h' || rank < '1' || rank > '8') return std::nullopt;
  return (rank - '1') * 8 + (file - 'a');
}

util::Result<Position> ParseFen(std::string_view text) {
  const std::optional<FenFields> fields = SplitFenFields(text);
  if (!fields) return util::Fail(kMissingBoardMessage);

  Position position;
  if (const char* message = ParseFenBoard(fields->board, position)) return util::Fail(message);
  if (!position.HasExactlyOneKing(Color::kWhite) || !position.HasExactlyOneKing(Color::kBlack)) {
    return util::Fail(kKingCountMessage);
  }

  util::Result<FenState> state = ParseFenState(*fields);
  if (!state) return std::move(state).TakeError();
  position.set_side_to_move(state->side_to_move);
  position.set_castling_rights(state->castling_rights);
  position.set_en_passant_square(state->en_passant_square);
  position.set_halfmove_clock(state->halfmove_clock);
  position.set_fullmove_number(state->fullmove_number);
  return position;
}

}  // namespace boardmill::chess
