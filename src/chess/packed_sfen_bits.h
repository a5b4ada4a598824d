#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "chess/packed_sfen.h"

namespace boardmill::chess {

inline constexpr unsigned kPackedSfenBits = 8 * kPackedSfenSize;

// Appends fields least significant bit first. The scratch space is larger than any record a
// board can ask for (at most 357 bits), so writing never needs a bounds check; whether the
// result fits in 256 bits is asked once at the end.
class PackedSfenBitWriter {
 public:
  // `value` must be below 2^width and width at most 16.
  void Write(std::uint32_t value, unsigned width) {
    const unsigned word = cursor_ / 64;
    const unsigned shift = cursor_ % 64;
    words_[word] |= static_cast<std::uint64_t>(value) << shift;
    if (shift + width > 64) {
      words_[word + 1] |= static_cast<std::uint64_t>(value) >> (64 - shift);
    }
    cursor_ += width;
  }
  void Skip(unsigned width) { cursor_ += width; }

  unsigned bits_used() const { return cursor_; }
  bool Fits() const { return cursor_ <= kPackedSfenBits; }

  // The first 256 bits as a record (bytes in little-endian order of the words). On a
  // little-endian machine that is the words' own memory, copied in one go.
  PackedSfen Record() const {
    PackedSfen record;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(record.bytes.data(), words_.data(), kPackedSfenSize);
    } else {
      for (unsigned i = 0; i < kPackedSfenSize; ++i) {
        record.bytes[i] = static_cast<std::uint8_t>(words_[i / 8] >> (8 * (i % 8)));
      }
    }
    return record;
  }

 private:
  std::array<std::uint64_t, 8> words_{};
  unsigned cursor_ = 0;
};

// Reads fields least significant bit first and never looks past bit 255: a read that would
// run off the end yields zero bits and marks the reader as overrun.
class PackedSfenBitReader {
 public:
  explicit PackedSfenBitReader(const PackedSfen& record) : record_(record) {}

  std::uint32_t Read(unsigned width) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
      value |= static_cast<std::uint32_t>(ReadBit()) << i;
    }
    return value;
  }

  unsigned ReadBit() {
    if (cursor_ >= kPackedSfenBits) {
      overrun_ = true;
      return 0;
    }
    const unsigned bit = (record_.bytes[cursor_ / 8] >> (cursor_ % 8)) & 1U;
    ++cursor_;
    return bit;
  }

  bool overrun() const { return overrun_; }

 private:
  const PackedSfen& record_;
  unsigned cursor_ = 0;
  bool overrun_ = false;
};

}  // namespace boardmill::chess
