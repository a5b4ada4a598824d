#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::shards {

// Reads an index as FormatShardIndex writes it or as any JSON tool may rewrite it: members in any
// order, any white space, members it does not know ignored. Text that is not JSON, a fixed value
// other than the writer's, a member missing or of the wrong kind, or numbers that do not agree
// (shard count, total, raw bytes, file names) is refused with one line naming `path` and what is
// wrong. The routing may be any kind this program writes.
util::Result<ShardIndex> ParseShardIndex(std::string_view text, const std::filesystem::path& path);

// The shard index of `directory`; empty when it has none.
util::Result<std::optional<ShardIndex>> LoadShardIndex(const std::filesystem::path& directory);

}  // namespace boardmill::shards
