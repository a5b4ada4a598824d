#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace boardmill::library {

// The random numbers of a shuffled read: SplitMix64, fully defined here, so that an order drawn
// from a seed is the same with every compiler and standard library.
class ShuffleRandom {
 public:
  explicit ShuffleRandom(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  // A number below `bound`, which must be positive; its modulo bias is at most bound / 2^64.
  std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }

  // Fisher-Yates.
  template <typename T>
  void Shuffle(std::vector<T>& items) {
    for (std::size_t i = items.size(); i > 1; --i) std::swap(items[i - 1], items[Below(i)]);
  }

 private:
  std::uint64_t state_;
};

// One seed from several numbers, each mixed in turn.
inline std::uint64_t MixSeed(std::initializer_list<std::uint64_t> parts) {
  std::uint64_t seed = 0;
  for (const std::uint64_t part : parts) seed = ShuffleRandom(seed ^ part).Next();
  return seed;
}

}  // namespace boardmill::library
