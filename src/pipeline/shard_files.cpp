#include "pipeline/shard_files.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "pipeline/shard_index_reader.h"
#include "pipeline/shard_router.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kShardPrefix = "shard-";
constexpr std::string_view kShardSuffix = ".psfen.zst";
constexpr std::size_t kMinimumIdDigits = 3;
constexpr std::size_t kMostIdDigits = 19;  // below 2^64 whatever the digits

// The id in a shard file name, as ShardRouter writes it: at least three decimal digits.
std::optional<std::uint64_t> ShardIdOf(std::string_view name) {
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

std::vector<fs::path> IndexedShardFiles(const fs::path& directory, std::uint64_t shard_count) {
  const ShardRouter router(shard_count);
  std::vector<fs::path> files;
  files.reserve(shard_count);
  for (std::uint64_t id = 0; id < shard_count; ++id) {
    files.push_back(router.ShardPath(directory, id));
  }
  return files;
}

util::Result<std::vector<fs::path>> ShardNamedFiles(const fs::path& directory) {
  std::vector<std::pair<std::uint64_t, fs::path>> found;
  std::error_code error;
  for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
       entry.increment(error)) {
    if (const std::optional<std::uint64_t> id = ShardIdOf(entry->path().filename().string())) {
      found.emplace_back(*id, entry->path());
    }
  }
  if (error) return util::Fail("Failed to list shard directory: " + directory.string());
  if (found.empty()) return util::Fail("No shard files in directory: " + directory.string());
  std::sort(found.begin(), found.end());
  std::vector<fs::path> files;
  files.reserve(found.size());
  for (auto& [id, path] : found) files.push_back(std::move(path));
  return files;
}

}  // namespace

util::Result<std::vector<fs::path>> ListShardFiles(const fs::path& directory) {
  util::Result<std::optional<std::vector<IndexedShard>>> index = LoadShardIndex(directory);
  if (!index) return std::move(index).TakeError();
  if (*index) return IndexedShardFiles(directory, (*index)->size());
  return ShardNamedFiles(directory);
}

}  // namespace boardmill::pipeline
