#pragma once

#include <filesystem>
#include <vector>

#include "util/result.h"

namespace boardmill::shards {

// The shard files of an output directory in id order: the ones its shard index lists, or,
// without an index, every file named like a shard (shard-NNN.psfen.zst), so that the index, a
// lock file or anything else beside the shards is never taken for one. A directory without any
// fails.
util::Result<std::vector<std::filesystem::path>> ListShardFiles(
    const std::filesystem::path& directory);

}  // namespace boardmill::shards
