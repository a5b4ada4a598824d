#pragma once

// The property of the C library's batch decoder, shared by its unit tests and its fuzz target:
// it agrees with the codec's own decoder on every record.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "boardmill/boardmill.h"

namespace boardmill::testing {

// Every column of n positions, owned, for boardmill_decode and boardmill_encode.
struct PositionColumns {
  explicit PositionColumns(std::size_t n)
      : pieces(n * 64),
        bitboards(n * 12),
        side_to_move(n),
        castling(n),
        ep_square(n),
        halfmove(n),
        fullmove(n),
        valid(n) {}

  boardmill_positions View() {
    return {pieces.data(),    bitboards.data(), side_to_move.data(), castling.data(),
            ep_square.data(), halfmove.data(),  fullmove.data(),     valid.data()};
  }

  std::vector<std::uint8_t> pieces;
  std::vector<std::uint64_t> bitboards;
  std::vector<std::uint8_t> side_to_move;
  std::vector<std::uint8_t> castling;
  std::vector<std::int8_t> ep_square;
  std::vector<std::uint8_t> halfmove;
  std::vector<std::uint16_t> fullmove;
  std::vector<std::uint8_t> valid;
};

// `records` (whole 32-byte records) decoded by boardmill_decode into every column: each record
// is valid exactly when chess::DecodePackedSfen accepts it, a valid one has that decoder's
// pieces, side to move, castling, en-passant square and clocks and bitboards that match its
// pieces, a refused one has every field 0, and the returned count is the number of valid ones.
// Empty when that holds, else a description of the first disagreement.
std::string CheckBatchDecodeAgrees(std::span<const std::uint8_t> records);

}  // namespace boardmill::testing
