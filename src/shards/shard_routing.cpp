#include "shards/shard_routing.h"

#include <array>
#include <cstddef>

#include "shards/shard_router.h"

namespace boardmill::shards {

namespace {

struct NamedRouting {
  RoutingKind kind;
  std::string_view name;
};

// Written into every index, so a name never changes once a kind has one. In the order of
// RoutingKind, so that a kind is its own place in the table.
constexpr std::array<NamedRouting, 2> kRoutingNames = {{
    {RoutingKind::kOccupancy, "eighth-rank occupancy byte mod shard_count"},
    {RoutingKind::kShuffle, "shuffle"},
}};

constexpr bool EachKindIsItsPlace() {
  for (std::size_t place = 0; place < kRoutingNames.size(); ++place) {
    if (static_cast<std::size_t>(kRoutingNames[place].kind) != place) return false;
  }
  return true;
}
static_assert(EachKindIsItsPlace());

}  // namespace

std::string_view RoutingName(RoutingKind kind) {
  return kRoutingNames[static_cast<std::size_t>(kind)].name;
}

std::optional<RoutingKind> ParseRoutingName(std::string_view name) {
  for (const NamedRouting& routing : kRoutingNames) {
    if (routing.name == name) return routing.kind;
  }
  return std::nullopt;
}

std::string KnownRoutingNames() {
  std::string names;
  for (const NamedRouting& routing : kRoutingNames) {
    if (!names.empty()) names += " or ";
    names.append("\"").append(routing.name).append("\"");
  }
  return names;
}

bool ShardRouting::Admits(const chess::Position& position, std::uint64_t shard_id) const {
  switch (kind) {
    case RoutingKind::kOccupancy:
      return ShardRouter(shard_count).Route(position) == shard_id;
    case RoutingKind::kShuffle:
      return true;
  }
  return false;
}

}  // namespace boardmill::shards
