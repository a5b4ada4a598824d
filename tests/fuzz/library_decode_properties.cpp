#include "fuzz/library_decode_properties.h"

#include <array>
#include <cstring>
#include <vector>

#include "boardmill/boardmill.h"
#include "chess/packed_sfen_codec.h"

namespace boardmill::testing {

namespace {

constexpr std::size_t kRecordSize = 32;

// The bitboard (P N B R Q K p n b r q k) of each piece code.
constexpr int kBitboardOf[13] = {-1, 0, 6, 1, 7, 2, 8, 3, 9, 4, 10, 5, 11};

std::string CheckRefusedRow(const PositionColumns& columns, std::size_t i) {
  for (int square = 0; square < 64; ++square) {
    if (columns.pieces[i * 64 + square] != 0) return "a refused record has pieces";
  }
  for (int board = 0; board < 12; ++board) {
    if (columns.bitboards[i * 12 + board] != 0) return "a refused record has bitboards";
  }
  if (columns.side_to_move[i] != 0 || columns.castling[i] != 0 || columns.ep_square[i] != 0 ||
      columns.halfmove[i] != 0 || columns.fullmove[i] != 0) {
    return "a refused record has fields";
  }
  return "";
}

std::string CheckDecodedRow(const chess::Position& expected, const PositionColumns& columns,
                            std::size_t i) {
  std::array<std::uint64_t, 12> bitboards{};
  for (int square = 0; square < 64; ++square) {
    const std::uint8_t piece = expected.PieceAt(square);
    if (columns.pieces[i * 64 + square] != piece) {
      return "pieces differ on square " + std::to_string(square);
    }
    if (piece != 0) bitboards[kBitboardOf[piece]] |= std::uint64_t{1} << square;
  }
  for (int board = 0; board < 12; ++board) {
    if (columns.bitboards[i * 12 + board] != bitboards[board]) {
      return "bitboard " + std::to_string(board) + " differs from the pieces";
    }
  }
  if (columns.side_to_move[i] != expected.side_to_move()) return "side to move differs";
  if (columns.castling[i] != expected.castling_rights()) return "castling differs";
  if (columns.ep_square[i] != expected.en_passant_square()) return "en-passant square differs";
  if (columns.halfmove[i] != expected.halfmove_clock()) return "halfmove clock differs";
  if (columns.fullmove[i] != expected.fullmove_number()) return "fullmove number differs";
  return "";
}

std::string CheckRow(const chess::PackedSfen& record, const PositionColumns& columns,
                     std::size_t i) {
  const util::Result<chess::Position> expected = chess::DecodePackedSfen(record);
  if (columns.valid[i] != (expected.ok() ? 1 : 0)) {
    return expected.ok() ? "refuses a record the codec decodes"
                         : "accepts a record the codec refuses (" + expected.error() + ")";
  }
  return expected.ok() ? CheckDecodedRow(*expected, columns, i) : CheckRefusedRow(columns, i);
}

}  // namespace

std::string CheckBatchDecodeAgrees(std::span<const std::uint8_t> records) {
  const std::size_t n = records.size() / kRecordSize;
  PositionColumns columns(n);
  boardmill_positions view = columns.View();
  const std::int64_t valid = boardmill_decode(records.data(), n, &view);
  std::int64_t expected_valid = 0;
  for (std::size_t i = 0; i < n; ++i) {
    chess::PackedSfen record;
    std::memcpy(record.bytes.data(), records.data() + i * kRecordSize, kRecordSize);
    expected_valid += columns.valid[i];
    const std::string fault = CheckRow(record, columns, i);
    if (!fault.empty()) {
      return "record " + std::to_string(i) + " " + chess::FormatPackedSfenHex(record) + ": " +
             fault;
    }
  }
  if (valid != expected_valid) return "the count returned is not the number of valid records";
  return "";
}

}  // namespace boardmill::testing
