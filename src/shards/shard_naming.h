#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace boardmill::shards {

// The one definition of a shard file's name: "shard-" + the id zero-padded to the digits of
// shard_count - 1 (at least 3) + ".psfen.zst". python/boardmill_shards.py matches the same names.
std::string ShardFileName(std::uint64_t shard_id, std::uint64_t shard_count);

inline std::filesystem::path ShardPath(const std::filesystem::path& directory,
                                       std::uint64_t shard_id, std::uint64_t shard_count) {
  return directory / ShardFileName(shard_id, shard_count);
}

// The id in a name ShardFileName writes for some shard count (at least three decimal digits);
// empty for any other name.
std::optional<std::uint64_t> ParseShardFileName(std::string_view name);

}  // namespace boardmill::shards
