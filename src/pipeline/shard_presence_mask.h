#pragma once

#include <bitset>
#include <cstdint>

#include "shards/shard_router.h"

namespace boardmill::pipeline {

// Which shards received records from one line batch. Shard ids come from the 256-value routing
// key, so only shards below 256 can ever be present; asking about a higher shard answers no.
class ShardPresenceMask {
 public:
  // `shard` is a routed shard id, always below kRoutingKeyCount.
  void Set(std::uint64_t shard) { bits_.set(static_cast<std::size_t>(shard)); }
  bool Contains(std::uint64_t shard) const {
    return shard < shards::kRoutingKeyCount && bits_.test(static_cast<std::size_t>(shard));
  }
  bool Empty() const { return bits_.none(); }

 private:
  std::bitset<shards::kRoutingKeyCount> bits_;
};

}  // namespace boardmill::pipeline
