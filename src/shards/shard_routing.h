#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "chess/position.h"

namespace boardmill::shards {

// How the records of a set of shards were placed. A conversion places each record by the
// occupancy of its eighth rank (ShardRouter); a shuffle spreads records without such a rule.
enum class RoutingKind { kOccupancy, kShuffle };

// The "routing" value of shard-index.json for `kind`.
std::string_view RoutingName(RoutingKind kind);
// The kind a "routing" value names; empty for a value no kind writes.
std::optional<RoutingKind> ParseRoutingName(std::string_view name);
// Every "routing" value, quoted, for a message: "\"a\" or \"b\"".
std::string KnownRoutingNames();

// The routing of a set of shards: its kind and the shard count it spreads records over.
struct ShardRouting {
  RoutingKind kind = RoutingKind::kOccupancy;
  std::uint64_t shard_count = 1;

  // Whether a record decoded to `position` may sit in shard `shard_id`: under occupancy routing
  // only in the shard its routing key gives; a routing that places no record by its content
  // admits it anywhere.
  bool Admits(const chess::Position& position, std::uint64_t shard_id) const;

  friend bool operator==(const ShardRouting&, const ShardRouting&) = default;
};

}  // namespace boardmill::shards
