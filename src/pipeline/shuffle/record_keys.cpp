#include "pipeline/shuffle/record_keys.h"

#include <xxhash.h>

#include <array>
#include <cstring>

#include "chess/packed_sfen_layout.h"

namespace boardmill::shuffle {

namespace {

// SplitMix64's finaliser: two well-separated seeds from one, so that the route and the order of
// an entry are independent.
std::uint64_t DeriveSeed(std::uint64_t seed, std::uint64_t purpose) {
  std::uint64_t z = seed + purpose * 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

std::uint64_t HashRecord(const chess::PackedSfen& record, std::uint64_t seed) {
  return XXH3_64bits_withSeed(record.bytes.data(), record.bytes.size(), seed);
}

// The ordinal as eight little-endian bytes, so that hashes agree across machines.
std::array<std::uint8_t, 8> OrdinalBytes(std::uint64_t ordinal) {
  std::array<std::uint8_t, 8> bytes{};
  for (unsigned i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(ordinal >> (8 * i));
  return bytes;
}

}  // namespace

RecordKeys::RecordKeys(DedupMode dedup, std::uint64_t seed, std::uint64_t shard_count)
    : dedup_(dedup),
      route_seed_(DeriveSeed(seed, 1)),
      order_seed_(DeriveSeed(seed, 2)),
      shard_count_(shard_count) {}

std::optional<std::uint64_t> RecordKeys::Route(const ShuffleEntry& entry) const {
  const std::optional<unsigned> clock_bit = chess::FindPackedSfenClockBit(entry.record);
  if (!clock_bit) return std::nullopt;
  std::uint64_t hash = 0;
  switch (dedup_) {
    case DedupMode::kNone: {
      const std::array<std::uint8_t, 8> ordinal = OrdinalBytes(entry.ordinal);
      hash = XXH3_64bits_withSeed(ordinal.data(), ordinal.size(), route_seed_);
      break;
    }
    case DedupMode::kExact:
      hash = HashRecord(entry.record, route_seed_);
      break;
    case DedupMode::kBoard:
      hash = HashRecord(chess::PackedSfenPositionBits(entry.record, *clock_bit), route_seed_);
      break;
  }
  return hash % shard_count_;
}

std::uint64_t RecordKeys::Order(const ShuffleEntry& entry) const {
  if (dedup_ != DedupMode::kNone) return HashRecord(Identity(entry.record), order_seed_);
  std::array<std::uint8_t, sizeof(ShuffleEntry)> bytes{};
  std::memcpy(bytes.data(), entry.record.bytes.data(), entry.record.bytes.size());
  const std::array<std::uint8_t, 8> ordinal = OrdinalBytes(entry.ordinal);
  std::memcpy(bytes.data() + entry.record.bytes.size(), ordinal.data(), ordinal.size());
  return XXH3_64bits_withSeed(bytes.data(), bytes.size(), order_seed_);
}

bool RecordKeys::SameIdentity(const ShuffleEntry& a, const ShuffleEntry& b) const {
  switch (dedup_) {
    case DedupMode::kNone:
      return false;
    case DedupMode::kExact:
      return a.record == b.record;
    case DedupMode::kBoard:
      return Identity(a.record) == Identity(b.record);
  }
  return false;
}

chess::PackedSfen RecordKeys::Identity(const chess::PackedSfen& record) const {
  if (dedup_ != DedupMode::kBoard) return record;
  // The record was checked when it was routed, so its clock bit is known to exist.
  return chess::PackedSfenPositionBits(record, chess::FindPackedSfenClockBit(record).value_or(0));
}

}  // namespace boardmill::shuffle
