#include "chess/fen_board.h"

namespace boardmill::chess {

const char* ParseFenBoard(std::string_view board, Position& position) {
  int file = 0;
  int rank = 7;
  int separators = 0;
  for (const char c : board) {
    if (c == '/') {
      if (file != 8 || rank == 0) return kMalformedSeparatorsMessage;
      ++separators;
      --rank;
      file = 0;
    } else if (c >= '0' && c <= '9') {
      const int run = c - '0';
      if (run == 0 || run == 9 || file + run > 8) return kInvalidEmptyRunMessage;
      file += run;
    } else if (const Piece piece = kPieceFromLetter[static_cast<unsigned char>(c)];
               piece != kNoPiece) {
      if (file >= 8) return kBoardOverflowMessage;
      position.SetPiece(rank * 8 + file, piece);
      ++file;
    } else {
      return kInvalidPieceCharacterMessage;
    }
  }
  if (separators != 7 || rank != 0 || file != 8) return kRankCountMessage;
  return nullptr;
}

}  // namespace boardmill::chess
