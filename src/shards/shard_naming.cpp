#include "shards/shard_naming.h"

#include <algorithm>

namespace boardmill::shards {

namespace {

constexpr std::string_view kShardPrefix = "shard-";
constexpr std::string_view kShardSuffix = ".psfen.zst";
constexpr std::size_t kMinimumIdDigits = 3;
constexpr std::size_t kMostIdDigits = 19;  // below 2^64 whatever the digits

std::size_t DecimalDigits(std::uint64_t value) { return std::to_string(value).size(); }

}  // namespace

std::string ShardFileName(std::uint64_t shard_id, std::uint64_t shard_count) {
  const std::uint64_t highest_id = shard_count == 0 ? 0 : shard_count - 1;
  const std::size_t width = std::max(kMinimumIdDigits, DecimalDigits(highest_id));
  std::string id = std::to_string(shard_id);
  if (id.size() < width) id.insert(0, width - id.size(), '0');
  std::string name(kShardPrefix);
  return name.append(id).append(kShardSuffix);
}

std::optional<std::uint64_t> ParseShardFileName(std::string_view name) {
  if (!name.starts_with(kShardPrefix) || !name.ends_with(kShardSuffix)) return std::nullopt;
  name.remove_prefix(kShardPrefix.size());
  name.remove_suffix(kShardSuffix.size());
  if (name.size() < kMinimumIdDigits || name.size() > kMostIdDigits) return std::nullopt;
  std::uint64_t id = 0;
  for (const char c : name) {
    if (c < '0' || c > '9') return std::nullopt;
    id = id * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return id;
}

}  // namespace boardmill::shards
