#pragma once

#include <cstdint>
#include <optional>

#include "chess/packed_sfen.h"
#include "pipeline/shuffle/dedup_mode.h"
#include "pipeline/shuffle/shuffle_entry.h"

namespace boardmill::shuffle {

// The two seeded hashes that place an entry: the route hash picks its output shard, the order
// hash its place inside that shard. With deduplication both hash what identifies the record (the
// record itself, or its position bits without the move counters), so duplicates meet in one
// shard and sort next to each other, and a shard finished in ranges of the order hash keeps
// every group of duplicates in one range. Without it the route hashes the ordinal, so that even
// a record repeated many times spreads over every shard, and the order hashes record and ordinal.
class RecordKeys {
 public:
  RecordKeys(DedupMode dedup, std::uint64_t seed, std::uint64_t shard_count);

  DedupMode dedup() const { return dedup_; }

  // The output shard of `entry`; empty when its record does not decode.
  std::optional<std::uint64_t> Route(const ShuffleEntry& entry) const;
  // The order hash of an entry whose record decodes.
  std::uint64_t Order(const ShuffleEntry& entry) const;
  // Whether two entries with equal order hashes are duplicates of each other.
  bool SameIdentity(const ShuffleEntry& a, const ShuffleEntry& b) const;

 private:
  // What deduplication compares: the record, or its position bits.
  chess::PackedSfen Identity(const chess::PackedSfen& record) const;

  DedupMode dedup_;
  std::uint64_t route_seed_;
  std::uint64_t order_seed_;
  std::uint64_t shard_count_;
};

}  // namespace boardmill::shuffle
