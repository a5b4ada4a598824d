#pragma once

#include <cstdint>
#include <filesystem>

#include "chess/position.h"

namespace boardmill::pipeline {

// The routing key is the occupancy of the eighth rank read as a byte (a8 = 0x80, h8 = 0x01), so
// at most 256 shards ever receive records.
inline constexpr int kRoutingKeyShift = 56;
inline constexpr std::uint64_t kRoutingKeyCount = 256;

// Decides which shard a position belongs to and how shard files are named.
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

  // "shard-" + id zero-padded to the digits of shard_count - 1 (at least 3) + ".psfen.zst".
  std::filesystem::path ShardPath(const std::filesystem::path& directory,
                                  std::uint64_t shard_id) const;

 private:
  std::uint64_t shard_count_;
};

}  // namespace boardmill::pipeline
