#include "shards/shard_routing.h"

#include "shards/shard_router.h"
#include "util/name_table.h"

namespace boardmill::shards {

namespace {

// Written into every index, so a name never changes once a kind has one. In the order of
// RoutingKind, so that a kind is its own place in the table.
constexpr util::NameTable<RoutingKind, 2> kRoutingNames = {{
    {RoutingKind::kOccupancy, "eighth-rank occupancy byte mod shard_count"},
    {RoutingKind::kShuffle, "shuffle"},
}};
static_assert(util::EachValueIsItsPlace(kRoutingNames));

}  // namespace

std::string_view RoutingName(RoutingKind kind) { return util::NameOf(kRoutingNames, kind); }

std::optional<RoutingKind> ParseRoutingName(std::string_view name) {
  return util::ValueNamed(kRoutingNames, name);
}

std::string KnownRoutingNames() {
  std::string names;
  for (const util::NamedValue<RoutingKind>& routing : kRoutingNames) {
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
