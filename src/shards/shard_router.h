#pragma once

#include <cstdint>

#include "chess/position.h"

namespace boardmill::shards {

// The routing key is the occupancy of the eighth rank read as a byte (a8 = 0x80, h8 = 0x01), so
// at most 256 shards ever receive records.
inline constexpr int kRoutingKeyShift = 56;
inline constexpr std::uint64_t kRoutingKeyCount = 256;

// Occupancy routing: decides which shard a position belongs to by its routing key.
class ShardRouter {
 public:
  // A request of 0 gives 1 shard.
  explicit ShardRouter(std::uint64_t requested_count)
      : shard_count_(requested_count == 0 ? 1 : requested_count) {}

  std::uint64_t shard_count() const { return shard_count_; }
  std::uint64_t Route(const chess::Position& position) const {
    return RouteKey(position.Occupancy() >> kRoutingKeyShift);
  }
  std::uint64_t RouteKey(std::uint64_t routing_key) const { return routing_key % shard_count_; }

 private:
  std::uint64_t shard_count_;
};

}  // namespace boardmill::shards
