#pragma once

#include <string_view>

#include "chess/piece.h"

namespace boardmill::chess {

// Reads a FEN board field byte by byte, a8 first, and reports every piece and every run of
// empty squares to `sink`:
//   sink.OnPiece(square, piece) for a piece letter placed on `square`;
//   sink.OnEmptyRun(count) for an accepted digit.
// Returns nullptr when the field describes exactly eight ranks of eight squares, otherwise the
// message for the first offending byte (or for the short board).
template <typename Sink>
const char* ParseFenBoard(std::string_view board, Sink& sink) {
  int file = 0;
  int rank = 7;
  int separators = 0;
  for (const char c : board) {
    if (c == '/') {
      if (file != 8 || rank == 0) return "Board field has malformed rank separators.";
      ++separators;
      --rank;
      file = 0;
    } else if (c >= '0' && c <= '9') {
      const int run = c - '0';
      if (run == 0 || run == 9 || file + run > 8) {
        return "Board field contains an invalid empty-square run.";
      }
      file += run;
      sink.OnEmptyRun(run);
    } else if (const Piece piece = kPieceFromLetter[static_cast<unsigned char>(c)];
               piece != kNoPiece) {
      if (file >= 8) return "Board field overflows the board.";
      sink.OnPiece(rank * 8 + file, piece);
      ++file;
    } else {
      return "Board field contains an invalid piece character.";
    }
  }
  if (separators != 7 || rank != 0 || file != 8) {
    return "Board field does not describe exactly 8 ranks.";
  }
  return nullptr;
}

}  // namespace boardmill::chess
