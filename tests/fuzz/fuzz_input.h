#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace boardmill::testing {

// Reads a fuzz input front to back: small numbers that choose modes, sizes and positions first,
// the payload last. Running out of bytes yields zeros, so every input is usable and the fuzzer
// can grow an input one byte at a time.
class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : bytes_(data, size) {}

  std::uint8_t TakeByte() {
    if (bytes_.empty()) return 0;
    const std::uint8_t byte = bytes_.front();
    bytes_ = bytes_.subspan(1);
    return byte;
  }

  // Two bytes, little-endian.
  std::uint16_t TakeWord() {
    const std::uint16_t low = TakeByte();
    return static_cast<std::uint16_t>(low | (TakeByte() << 8));
  }

  // Up to `count` bytes.
  std::span<const std::uint8_t> TakeBytes(std::size_t count) {
    const std::span<const std::uint8_t> taken = bytes_.first(std::min(count, bytes_.size()));
    bytes_ = bytes_.subspan(taken.size());
    return taken;
  }

  std::vector<std::uint16_t> TakeWords(std::size_t count) {
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i < count; ++i) words.push_back(TakeWord());
    return words;
  }

  std::string_view TakeRestAsText() {
    const std::span<const std::uint8_t> rest = TakeBytes(bytes_.size());
    return {reinterpret_cast<const char*>(rest.data()), rest.size()};
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// A position in [0, `size`] chosen by `word`: exact below 64 KiB, spread evenly above. Inputs
// take their positions before their payload, whose size is not known yet.
inline std::size_t PositionFromWord(std::uint16_t word, std::size_t size) {
  return size < 0xFFFF ? word % (size + 1) : word * (size / 0xFFFF);
}

// Ascending places to cut a text of `size` bytes; a repeated position makes an empty piece.
inline std::vector<std::size_t> CutsFromWords(std::span<const std::uint16_t> words,
                                              std::size_t size) {
  std::vector<std::size_t> cuts;
  for (const std::uint16_t word : words) cuts.push_back(PositionFromWord(word, size));
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

}  // namespace boardmill::testing
