#include "chess/fen_parser.h"

#include "chess/fen_board.h"
#include "chess/fen_fields.h"
#include "chess/lenient_fen_fields.h"

namespace boardmill::chess {

namespace {

// Fills `position` from fields split by either reading; returns nullptr or the first message.
const char* ReadFenFields(const std::optional<FenFields>& fields, Position& position) {
  if (!fields) return kMissingBoardMessage;
  if (const char* message = ParseFenBoard(fields->board, position)) return message;
  if (!position.HasExactlyOneKing(Color::kWhite) || !position.HasExactlyOneKing(Color::kBlack)) {
    return kKingCountMessage;
  }
  FenState state;
  if (const char* message = ReadFenState(*fields, state)) return message;
  position.set_side_to_move(state.side_to_move);
  position.set_castling_rights(state.castling_rights);
  position.set_en_passant_square(state.en_passant_square);
  position.set_halfmove_clock(state.halfmove_clock);
  position.set_fullmove_number(state.fullmove_number);
  return nullptr;
}

const char* ReadFenStrictly(std::string_view text, Position& position) {
  return ReadFenFields(SplitFenFields(text), position);
}

const char* ReadFenByLenientFields(std::string_view text, Position& position) {
  return ReadFenFields(SplitLenientFenFields(text), position);
}

}  // namespace

std::optional<int> ParseSquare(std::string_view text) {
  if (text.size() != 2) return std::nullopt;
  const char file = text[0];
  const char rank = text[1];
  if (file < 'a' || file > 'h' || rank < '1' || rank > '8') return std::nullopt;
  return (rank - '1') * 8 + (file - 'a');
}

util::Result<Position> ParseFen(std::string_view text) {
  Position position;
  if (const char* message = ReadFenStrictly(text, position)) return util::Fail(message);
  return position;
}

util::Result<ParsedFen> ParseFen(std::string_view text, FenReading reading) {
  ParsedFen parsed;
  const char* message = reading == FenReading::kStrict
                            ? ReadFenStrictly(text, parsed.position)
                            : ReadFenLeniently(text, parsed.position, parsed.lenient_only,
                                               ReadFenStrictly, ReadFenByLenientFields);
  if (message != nullptr) return util::Fail(message);
  return parsed;
}

}  // namespace boardmill::chess
