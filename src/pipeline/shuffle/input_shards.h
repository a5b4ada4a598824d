#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::shuffle {

// One shard file to read, in input order: its place among all input shards, its directory's
// place among the inputs, and what the directory's index says of it, if it has an index.
struct InputShard {
  std::filesystem::path path;
  std::uint64_t sequence = 0;
  std::uint64_t directory = 0;
  std::optional<shards::IndexedShard> listed;
};

// Every shard of the input directories, in input order: the directories as given, each one's
// shards in id order (those its shard-index.json lists, or without an index, its files named
// like shards). A directory that cannot be listed or holds no shard fails the whole listing.
util::Result<std::vector<InputShard>> ListInputShards(
    std::span<const std::filesystem::path> directories);

// Refuses an output directory that is one of the inputs or lies inside one: writing there would
// change the input while it is read, or mix the output into a later run's input.
util::Result<void> CheckOutputOutsideInputs(const std::filesystem::path& output_directory,
                                            std::span<const std::filesystem::path> directories);

}  // namespace boardmill::shuffle
