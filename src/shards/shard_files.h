#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::shards {

// The shard files of an output directory in id order: the ones its shard index lists, or,
// without an index, every file named like a shard (shard-NNN.psfen.zst), so that the index, a
// lock file or anything else beside the shards is never taken for one. A directory without any
// fails.
util::Result<std::vector<std::filesystem::path>> ListShardFiles(
    const std::filesystem::path& directory);

// A shard file and, when the directory has an index, what the index lists for it, so that a
// reader can check the bytes it reads against what the run wrote.
struct ListedShardFile {
  std::filesystem::path path;
  std::optional<IndexedShard> listed;
};

// The files of ListShardFiles, each with its index entry.
util::Result<std::vector<ListedShardFile>> ListShardFilesWithIndex(
    const std::filesystem::path& directory);

}  // namespace boardmill::shards
