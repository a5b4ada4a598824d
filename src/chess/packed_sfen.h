#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace boardmill::chess {

inline constexpr std::size_t kPackedSfenSize = 32;

// The fixed 32-byte record: a Huffman-coded board plus side to move, king squares, castling
// rights, en-passant square and move counters. Bit p is bit (p mod 8) of byte (p div 8).
struct PackedSfen {
  std::array<std::uint8_t, kPackedSfenSize> bytes{};

  friend bool operator==(const PackedSfen&, const PackedSfen&) = default;
};

// 64 lowercase hexadecimal digits, byte 0 first.
std::string FormatPackedSfenHex(const PackedSfen& record);

}  // namespace boardmill::chess
