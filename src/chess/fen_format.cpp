#include "chess/fen_format.h"

namespace boardmill::chess {

namespace {

void AppendBoard(const Position& position, std::string& text) {
  for (int rank = 7; rank >= 0; --rank) {
    int empty = 0;
    for (int file = 0; file < 8; ++file) {
      const Piece piece = position.PieceAt(rank * 8 + file);
      if (piece == kNoPiece) {
        ++empty;
        continue;
      }
      if (empty != 0) text.push_back(static_cast<char>('0' + empty));
      empty = 0;
      text.push_back(kPieceLetters[piece]);
    }
    if (empty != 0) text.push_back(static_cast<char>('0' + empty));
    if (rank != 0) text.push_back('/');
  }
}

void AppendCastling(std::uint8_t rights, std::string& text) {
  if ((rights & 0x0F) == 0) {
    text.push_back('-');
    return;
  }
  static constexpr char kLetters[] = "KQkq";
  for (int bit = 0; bit < 4; ++bit) {
    if ((rights & (1U << bit)) != 0) text.push_back(kLetters[bit]);
  }
}

void AppendEnPassant(int square, std::string& text) {
  if (square < 0 || square >= kSquareCount) {
    text.push_back('-');
    return;
  }
  text.push_back(static_cast<char>('a' + square % 8));
  text.push_back(static_cast<char>('1' + square / 8));
}

}  // namespace

std::string FormatFen(const Position& position) {
  std::string text;
  AppendBoard(position, text);
  text += position.side_to_move() == 0 ? " w " : " b ";
  AppendCastling(position.castling_rights(), text);
  text.push_back(' ');
  AppendEnPassant(position.en_passant_square(), text);
  text.push_back(' ');
  text += std::to_string(position.halfmove_clock());
  text.push_back(' ');
  text += std::to_string(position.fullmove_number());
  return text;
}

}  // namespace boardmill::chess
