#include "library/record_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "chess/huffman_code.h"
#include "chess/packed_sfen.h"
#include "chess/piece.h"

namespace boardmill::library {

namespace {

constexpr unsigned kBoardStartBit = 13;
constexpr unsigned kBoardTokens = 62;  // the squares other than the two kings'
constexpr unsigned kRecordBits = 8 * chess::kPackedSfenSize;
constexpr unsigned kPieceTokenBits = 5;  // four code bits, then the colour bit
constexpr int kBitboards = 12;

// The five bits of a token that starts with a 1 bit, least significant first, to its piece; 0
// for the code values no piece has.
constexpr std::array<chess::Piece, 32> kPieceOfToken = [] {
  std::array<chess::Piece, 32> pieces{};
  for (unsigned bits = 0; bits < pieces.size(); ++bits) {
    for (int type = 1; type < static_cast<int>(chess::kTypeCodes.size()); ++type) {
      if (chess::kTypeCodes[type].value == (bits & 15)) {
        pieces[bits] = chess::MakePiece(static_cast<chess::PieceType>(type),
                                        static_cast<std::uint8_t>(bits >> 4));
      }
    }
  }
  return pieces;
}();

// One bit per five-bit token that starts with a 1 bit and matches no code.
constexpr std::uint32_t kInvalidTokens = [] {
  std::uint32_t invalid = 0;
  for (unsigned bits = 1; bits < kPieceOfToken.size(); bits += 2) {
    if (kPieceOfToken[bits] == chess::kNoPiece) invalid |= std::uint32_t{1} << bits;
  }
  return invalid;
}();

// Piece code to its bitboard (P N B R Q K p n b r q k); the empty square goes to a spare 13th.
constexpr std::array<std::uint8_t, 13> kBitboardOfPiece = [] {
  std::array<std::uint8_t, 13> index{};
  index[chess::kNoPiece] = kBitboards;
  for (chess::Piece piece = 1; piece <= 12; ++piece) {
    index[piece] = static_cast<std::uint8_t>(static_cast<int>(chess::TypeOf(piece)) - 1 +
                                             6 * chess::ColorBit(piece));
  }
  return index;
}();

// The record as little-endian words, followed by zero words, so that a 64-bit window can start
// at any bit a board can reach (the last token of a board of 62 pieces ends at bit 323).
class RecordWords {
 public:
  explicit RecordWords(const std::uint8_t* record) {
    std::memcpy(words_.data(), record, chess::kPackedSfenSize);
    if constexpr (std::endian::native == std::endian::big) {
      for (int i = 0; i < 4; ++i) words_[i] = __builtin_bswap64(words_[i]);
    }
  }

  // The 64 bits starting at `bit`.
  std::uint64_t Window(unsigned bit) const {
    const unsigned word = bit / 64;
    const unsigned shift = bit % 64;
    return (words_[word] >> shift) | ((words_[word + 1] << 1) << (63 - shift));
  }

 private:
  std::array<std::uint64_t, 7> words_{};
};

// Where the board section ends, and whether it held a code no piece has.
struct BoardEnd {
  unsigned bit;
  bool invalid_code;
};

// Walks the board tokens in FEN order, kings skipped: a 0 bit is an empty square, a 1 bit starts
// a five-bit piece token. A run of empty squares is counted with one count of trailing zeros, so
// the loop turns once per piece, not once per square. The window is refilled once more than 32
// of its bits are used, so its low 32 bits are always real; a guard bit at bit 27 caps a count
// there, keeping the five bits after it inside them (a longer run takes two turns). The guard
// being fixed keeps the loop's chain of dependent steps short: count, shift, count.
template <typename PlacePiece>
BoardEnd ScanBoard(const RecordWords& words, PlacePiece&& place) {
  constexpr std::uint64_t kGuard = std::uint64_t{1} << (32 - kPieceTokenBits);
  unsigned start = kBoardStartBit;
  unsigned used = 0;  // bits of the window consumed
  std::uint64_t window = words.Window(start);
  unsigned token = 0;
  std::uint32_t invalid = 0;
  for (;;) {
    if (used > 32) {
      start += used;
      used = 0;
      window = words.Window(start);
    }
    const unsigned run = static_cast<unsigned>(std::countr_zero(window | kGuard));
    if (token + run >= kBoardTokens) return {start + used + kBoardTokens - token, invalid != 0};
    token += run;
    const std::uint64_t from_run = window >> run;
    const unsigned bits = static_cast<unsigned>(from_run) & 31;
    if ((bits & 1) == 0) {  // the guard: the low bits held only empty squares
      window = from_run;
      used += run;
      continue;
    }
    invalid |= (kInvalidTokens >> bits) & 1;
    place(token, kPieceOfToken[bits]);
    ++token;
    window = from_run >> kPieceTokenBits;
    used += run + kPieceTokenBits;
    if (token == kBoardTokens) return {start + used, invalid != 0};
  }
}

// Where a record's columns go: the caller's row, or scratch space for a column it did not ask
// for, so that decoding writes every field the same way.
struct Scratch {
  std::array<std::uint8_t, 64> pieces;
  std::array<std::uint64_t, kBitboards + 1> bitboards;
  std::uint8_t side_to_move, castling, halfmove, valid;
  std::int8_t ep_square;
  std::uint16_t fullmove;
};

template <typename T>
T* Row(T* column, std::size_t index, std::size_t width, T* scratch) {
  return column != nullptr ? column + index * width : scratch;
}

// The fields after the board, starting at `bit`; false when they run past the record.
bool DecodeTail(const RecordWords& words, unsigned bit, const boardmill_positions& out,
                std::size_t i, Scratch& scratch) {
  const std::uint64_t tail = words.Window(bit);
  const unsigned has_ep = (tail >> 4) & 1;
  const std::uint64_t clocks = tail >> (5 + 6 * has_ep);
  const unsigned fullmove = (clocks >> 6) & 0xFFFF;
  *Row(out.castling, i, 1, &scratch.castling) = static_cast<std::uint8_t>(tail & 15);
  *Row(out.ep_square, i, 1, &scratch.ep_square) =
      static_cast<std::int8_t>(has_ep != 0 ? static_cast<int>((tail >> 5) & 63) : -1);
  *Row(out.halfmove, i, 1, &scratch.halfmove) =
      static_cast<std::uint8_t>((clocks & 63) | (((clocks >> 22) & 1) << 6));
  *Row(out.fullmove, i, 1, &scratch.fullmove) =
      static_cast<std::uint16_t>(fullmove == 0 ? 1 : fullmove);
  constexpr unsigned kTailBitsWithoutEp = 4 + 1 + 6 + 16 + 1;
  return bit + kTailBitsWithoutEp + 6 * has_ep <= kRecordBits;
}

void ClearRecord(const boardmill_positions& out, std::size_t i, Scratch& scratch) {
  std::memset(Row(out.pieces, i, 64, scratch.pieces.data()), 0, 64);
  std::memset(Row(out.bitboards, i, kBitboards, scratch.bitboards.data()), 0,
              kBitboards * sizeof(std::uint64_t));
  *Row(out.side_to_move, i, 1, &scratch.side_to_move) = 0;
  *Row(out.castling, i, 1, &scratch.castling) = 0;
  *Row(out.ep_square, i, 1, &scratch.ep_square) = 0;
  *Row(out.halfmove, i, 1, &scratch.halfmove) = 0;
  *Row(out.fullmove, i, 1, &scratch.fullmove) = 0;
  *Row(out.valid, i, 1, &scratch.valid) = 0;
}

// Decodes record `i` into its rows; false when the record does not decode.
bool DecodeRecord(const std::uint8_t* record, const boardmill_positions& out, std::size_t i,
                  Scratch& scratch) {
  const RecordWords words(record);
  const std::uint64_t header = words.Window(0);
  const unsigned white_king = (header >> 1) & 63;
  const unsigned black_king = (header >> 7) & 63;
  if (white_king == black_king) return false;

  std::uint8_t* pieces = Row(out.pieces, i, 64, scratch.pieces.data());
  std::memset(pieces, 0, 64);
  std::array<std::uint64_t, kBitboards + 1> bitboards{};
  pieces[white_king] = chess::kWhiteKing;
  pieces[black_king] = chess::kBlackKing;
  bitboards[kBitboardOfPiece[chess::kWhiteKing]] = std::uint64_t{1} << white_king;
  bitboards[kBitboardOfPiece[chess::kBlackKing]] = std::uint64_t{1} << black_king;

  // A token's index in FEN order skips the king squares; XOR with 56 turns a FEN index (a8 = 0)
  // into a square (a1 = 0) and back.
  const unsigned first_king = std::min(white_king ^ 56, black_king ^ 56);
  const unsigned second_king = std::max(white_king ^ 56, black_king ^ 56);
  const BoardEnd board = ScanBoard(words, [&](unsigned token, chess::Piece piece) {
    const unsigned fen = token + (token >= first_king) + (token + 1 >= second_king);
    pieces[fen ^ 56] = piece;
    bitboards[kBitboardOfPiece[piece]] |= std::uint64_t{1} << (fen ^ 56);
  });
  if (board.invalid_code) return false;
  if (!DecodeTail(words, board.bit, out, i, scratch)) return false;
  if (out.bitboards != nullptr) {
    std::memcpy(out.bitboards + i * kBitboards, bitboards.data(),
                kBitboards * sizeof(std::uint64_t));
  }
  *Row(out.side_to_move, i, 1, &scratch.side_to_move) = header & 1;
  *Row(out.valid, i, 1, &scratch.valid) = 1;
  return true;
}

}  // namespace

std::size_t DecodeRecords(const std::uint8_t* records, std::size_t count,
                          const boardmill_positions& out) {
  Scratch scratch;
  std::size_t decoded = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (DecodeRecord(records + i * chess::kPackedSfenSize, out, i, scratch)) {
      ++decoded;
    } else {
      ClearRecord(out, i, scratch);
    }
  }
  return decoded;
}

}  // namespace boardmill::library
