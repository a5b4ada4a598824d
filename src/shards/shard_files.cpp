#include "shards/shard_files.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <system_error>
#include <utility>

#include "shards/shard_index_reader.h"
#include "shards/shard_naming.h"

namespace boardmill::shards {

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> IndexedShardFiles(const fs::path& directory, std::uint64_t shard_count) {
  std::vector<fs::path> files;
  files.reserve(shard_count);
  for (std::uint64_t id = 0; id < shard_count; ++id) {
    files.push_back(ShardPath(directory, id, shard_count));
  }
  return files;
}

util::Result<std::vector<fs::path>> ShardNamedFiles(const fs::path& directory) {
  std::vector<std::pair<std::uint64_t, fs::path>> found;
  std::error_code error;
  for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
       entry.increment(error)) {
    if (const std::optional<std::uint64_t> id =
            ParseShardFileName(entry->path().filename().string())) {
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
  util::Result<std::optional<ShardIndex>> index = LoadShardIndex(directory);
  if (!index) return std::move(index).TakeError();
  if (*index) return IndexedShardFiles(directory, (*index)->shards.size());
  return ShardNamedFiles(directory);
}

}  // namespace boardmill::shards
