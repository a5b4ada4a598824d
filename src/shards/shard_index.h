#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "shards/shard_routing.h"
#include "util/byte_digest.h"
#include "util/result.h"

namespace boardmill::shards {

inline constexpr char kShardIndexFileName[] = "shard-index.json";

// The index's fixed values, which its reader expects exactly as its writer writes them.
inline constexpr std::uint64_t kShardIndexVersion = 1;
inline constexpr char kShardIndexFormat[] = "boardmill-shards";
inline constexpr char kShardIndexRecordFormat[] = "PackedSfen";
inline constexpr char kShardIndexCompression[] = "zstd";

// `text` in double quotes, as the index writes its strings (they need no escapes).
inline std::string JsonQuoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(text).push_back('"');
  return quoted;
}

// One shard file as the run wrote it: its records and its bytes as stored, with their XXH64.
struct IndexedShard {
  std::uint64_t records = 0;
  std::uint64_t bytes = 0;
  std::uint64_t xxh64 = 0;

  friend bool operator==(const IndexedShard&, const IndexedShard&) = default;
};

// What shard-index.json tells: how the records were placed, and per shard id, in order, what its
// file holds.
struct ShardIndex {
  RoutingKind routing = RoutingKind::kOccupancy;
  std::vector<IndexedShard> shards;

  ShardRouting Routing() const { return {routing, shards.size()}; }
};

inline IndexedShard DescribeShard(std::uint64_t records, const util::ByteDigest& written) {
  return {records, written.bytes(), written.Hash()};
}

// One input directory of a shuffle, as its index names it: the path as given, its records and
// the XXH64 of its shards' hashes taken in id order, each as 8 little-endian bytes.
struct IndexedInput {
  std::string path;
  std::uint64_t records = 0;
  std::uint64_t xxh64 = 0;
};

// What an index of shuffled shards adds after the members every index has: how they were made.
struct ShuffleOrigin {
  std::uint64_t seed = 0;
  std::string dedup;
  std::vector<IndexedInput> inputs;
};

// The hash as the index spells it: 16 lowercase hexadecimal digits.
std::string FormatXxh64(std::uint64_t hash);

// shard-index.json: one JSON object naming the record format and routing, the shard count and
// total, and per shard, in id order, its file name, records, raw and stored bytes and hash; for
// shuffled shards (`origin` given) then the seed, the deduplication and the inputs.
std::string FormatShardIndex(RoutingKind routing, std::span<const IndexedShard> shards,
                             const ShuffleOrigin* origin = nullptr);

// A run removes the index an earlier run left before it writes a shard, so that shards being
// rewritten are never described by a stale index.
util::Result<void> RemoveStaleShardIndex(const std::filesystem::path& directory);

// Writes shard-index.json into `directory` once every shard is complete, under a temporary name
// renamed into place, so the index is whole or absent.
util::Result<void> WriteShardIndex(const std::filesystem::path& directory, RoutingKind routing,
                                   std::span<const IndexedShard> shards,
                                   const ShuffleOrigin* origin = nullptr);

}  // namespace boardmill::shards
