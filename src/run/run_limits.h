#pragma once

#include <cstdint>

namespace boardmill::run {

// Upper bounds shared by every command that writes shards with threads. They are far above any
// real use; past them the machine could not honour the request (one open file per shard, one
// thread per worker), so a run is refused up front instead of failing halfway.
inline constexpr std::uint64_t kMaxShardCount = 4096;
inline constexpr std::uint64_t kMaxThreadCount = 1024;

}  // namespace boardmill::run
