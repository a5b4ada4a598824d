#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::shards {

// Reads back the index FormatShardIndex writes: the same members in the same order, any JSON
// white space between them. Anything else, or numbers that do not agree (shard count, total,
// raw bytes, file names), is refused with one line naming `path` and what is wrong. The routing
// may be any kind this program writes.
util::Result<ShardIndex> ParseShardIndex(std::string_view text, const std::filesystem::path& path);

// The shard index of `directory`; empty when it has none.
util::Result<std::optional<ShardIndex>> LoadShardIndex(const std::filesystem::path& directory);

}  // namespace boardmill::shards
