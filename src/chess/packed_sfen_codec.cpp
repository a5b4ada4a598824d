#include "chess/packed_sfen_codec.h"

#include <bit>
#include <optional>

#include "chess/packed_sfen_bits.h"

namespace boardmill::chess {

namespace {

struct HuffmanCode {
  std::uint8_t value;
  std::uint8_t width;
};

// Codes by piece type; kings have none (their squares are stored separately).
constexpr std::array<HuffmanCode, 6> kTypeCodes = {{
    {0, 1},  // empty square
    {1, 4},  // pawn
    {3, 4},  // knight
    {5, 4},  // bishop
    {7, 4},  // rook
    {9, 4},  // queen
}};

// The bits one square adds to the record: its code followed, for a piece, by the colour bit.
// Kings add nothing.
constexpr std::array<HuffmanCode, 13> kSquareCodes = [] {
  std::array<HuffmanCode, 13> codes{};
  codes[kNoPiece] = kTypeCodes[0];
  for (Piece piece = 1; piece <= 10; ++piece) {
    const HuffmanCode type = kTypeCodes[static_cast<int>(TypeOf(piece))];
    codes[piece] = {static_cast<std::uint8_t>(type.value | (ColorBit(piece) << type.width)),
                    static_cast<std::uint8_t>(type.width + 1)};
  }
  codes[kWhiteKing] = {0, 0};
  codes[kBlackKing] = {0, 0};
  return codes;
}();

constexpr unsigned kMaxCodeWidth = 6;

// The piece type whose code is `value` after `width` bits, if any.
std::optional<PieceType> MatchCode(std::uint32_t value, unsigned width) {
  for (std::size_t type = 0; type < kTypeCodes.size(); ++type) {
    if (kTypeCodes[type].width == width && kTypeCodes[type].value == value) {
      return static_cast<PieceType>(type);
    }
  }
  return std::nullopt;
}

util::Error OverrunError() {
  return util::Fail("PackedSfen fields run past the end of the record.");
}

}  // namespace

util::Result<PackedSfen> WritePackedSfenRecord(const std::array<Piece, kSquareCount>& board,
                                               std::uint64_t occupancy, const FenState& state,
                                               int white_king_square, int black_king_square) {
  PackedSfenBitWriter writer;
  writer.Write(state.side_to_move != 0 ? 1 : 0, 1);
  writer.Write(static_cast<std::uint32_t>(white_king_square), 6);
  writer.Write(static_cast<std::uint32_t>(black_king_square), 6);
  // Only occupied squares are visited: an empty square's code is a single 0 bit, which the
  // zeroed record already holds, so a run of empty squares is a skip.
  std::uint64_t unvisited = occupancy;
  int fen_index = 0;
  while (unvisited != 0) {
    const int empty_run = std::countl_zero(unvisited);
    writer.Skip(static_cast<unsigned>(empty_run));
    fen_index += empty_run;
    const HuffmanCode code = kSquareCodes[board[kFenOrder[fen_index]]];
    writer.Write(code.value, code.width);
    ++fen_index;
    unvisited = (unvisited << empty_run) << 1;  // two shifts: one of 64 would be undefined
  }
  writer.Skip(static_cast<unsigned>(kSquareCount - fen_index));
  writer.Write(state.castling_rights & 0x0F, 4);
  if (state.en_passant_square != kNoSquare) {
    writer.Write(1, 1);
    // Six bits of the square, like every other field masked to its width: a Position may carry
    // any int here, and wider bits would spill into the clocks that follow.
    writer.Write(static_cast<std::uint32_t>(state.en_passant_square) & 0x3F, 6);
  } else {
    writer.Write(0, 1);
  }
  writer.Write(state.halfmove_clock & 0x3F, 6);
  writer.Write(state.fullmove_number & 0xFF, 8);
  writer.Write(state.fullmove_number >> 8, 8);
  writer.Write((state.halfmove_clock >> 6) & 1, 1);
  if (!writer.Fits()) {
    return util::Fail("Position has too many pieces to fit in a PackedSfen record.");
  }
  return writer.Record();
}

util::Result<PackedSfen> EncodePackedSfen(const Position& position) {
  if (!position.HasExactlyOneKing(Color::kWhite) || !position.HasExactlyOneKing(Color::kBlack)) {
    return util::Fail("Position must contain exactly one king of each color.");
  }
  if (position.halfmove_clock() > kMaxPackedHalfmoveClock)
    return util::Fail(kRule50CapacityMessage);
  if (position.fullmove_number() == 0) return util::Fail("Fullmove number must be at least 1.");
  const FenState state{position.side_to_move(), position.castling_rights(),
                       position.en_passant_square(), position.halfmove_clock(),
                       position.fullmove_number()};
  return WritePackedSfenRecord(position.board(), position.Occupancy(), state,
                               position.KingSquare(Color::kWhite),
                               position.KingSquare(Color::kBlack));
}

util::Result<Position> DecodePackedSfen(const PackedSfen& record) {
  PackedSfenBitReader reader(record);
  Position position;
  position.set_side_to_move(static_cast<std::uint8_t>(reader.ReadBit()));
  const int white_king = static_cast<int>(reader.Read(6));
  const int black_king = static_cast<int>(reader.Read(6));
  if (white_king == black_king) return util::Fail("PackedSfen contains invalid king squares.");
  position.SetPiece(white_king, kWhiteKing);
  position.SetPiece(black_king, kBlackKing);

  for (const std::uint8_t square : kFenOrder) {
    if (square == white_king || square == black_king) continue;
    std::optional<PieceType> type;
    std::uint32_t value = 0;
    for (unsigned width = 1; width <= kMaxCodeWidth && !type; ++width) {
      value |= reader.ReadBit() << (width - 1);
      type = MatchCode(value, width);
    }
    if (!type && !reader.overrun()) {
      return util::Fail("PackedSfen contains an invalid Huffman-coded piece.");
    }
    if (type && *type != PieceType::kNone) {
      position.SetPiece(square, MakePiece(*type, static_cast<std::uint8_t>(reader.ReadBit())));
    }
    if (reader.overrun()) return OverrunError();
  }

  position.set_castling_rights(static_cast<std::uint8_t>(reader.Read(4)));
  if (reader.ReadBit() != 0) position.set_en_passant_square(static_cast<int>(reader.Read(6)));
  const std::uint32_t halfmove_low = reader.Read(6);
  const std::uint32_t fullmove = reader.Read(8) | (reader.Read(8) << 8);
  const std::uint32_t halfmove = halfmove_low | (reader.Read(1) << 6);
  if (reader.overrun()) return OverrunError();
  position.set_halfmove_clock(static_cast<std::uint16_t>(halfmove));
  position.set_fullmove_number(static_cast<std::uint16_t>(fullmove == 0 ? 1 : fullmove));
  return position;
}

}  // namespace boardmill::chess
