#include "chess/fast_fen_encoder.h"

#include "chess/fen_board.h"
#include "chess/fen_fields.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::chess {

namespace {

constexpr int kRoutingShift = 56;

// Collects, while the board is read, what the general route finds by scanning it afterwards.
struct FastBoardSink {
  FastPosition& position;
  int white_kings = 0;
  int black_kings = 0;

  void OnPiece(int square, Piece piece) {
    position.board[square] = piece;
    position.occupancy = (position.occupancy << 1) | 1U;
    if (piece == kWhiteKing) {
      position.white_king_square = square;
      ++white_kings;
    } else if (piece == kBlackKing) {
      position.black_king_square = square;
      ++black_kings;
    }
  }
  void OnEmptyRun(int count) { position.occupancy <<= count; }
};

bool IsSquare(int square) { return square >= 0 && square < kSquareCount; }

}  // namespace

util::Result<FastPosition> ParseFenFast(std::string_view text) {
  const std::optional<FenFields> fields = SplitFenFields(text);
  if (!fields) return util::Fail(kMissingBoardMessage);

  FastPosition position;
  FastBoardSink sink{position};
  if (const char* message = ParseFenBoard(fields->board, sink)) return util::Fail(message);
  if (sink.white_kings != 1 || sink.black_kings != 1) return util::Fail(kKingCountMessage);

  util::Result<FenState> state = ParseFenState(*fields);
  if (!state) return std::move(state).TakeError();
  position.side_to_move = state->side_to_move;
  position.castling_rights = state->castling_rights;
  position.en_passant_square = state->en_passant_square;
  position.halfmove_clock = state->halfmove_clock;
  position.fullmove_number = state->fullmove_number;
  return position;
}

util::Result<FastEncodeResult> EncodeFastPosition(const FastPosition& position) {
  if (!IsSquare(position.white_king_square) || !IsSquare(position.black_king_square) ||
      position.white_king_square == position.black_king_square) {
    return util::Fail("Position contains invalid king squares.");
  }
  if (position.halfmove_clock > kMaxPackedHalfmoveClock) return util::Fail(kRule50CapacityMessage);
  const FenState state{position.side_to_move, position.castling_rights, position.en_passant_square,
                       position.halfmove_clock, position.fullmove_number};
  util::Result<PackedSfen> record =
      WritePackedSfenRecord(position.board, position.occupancy, state, position.white_king_square,
                            position.black_king_square);
  if (!record) return std::move(record).TakeError();
  return FastEncodeResult{*record, position.occupancy, position.occupancy >> kRoutingShift};
}

util::Result<FastEncodeResult> EncodeFenFast(std::string_view text) {
  util::Result<FastPosition> position = ParseFenFast(text);
  if (!position) return std::move(position).TakeError();
  return EncodeFastPosition(*position);
}

}  // namespace boardmill::chess
