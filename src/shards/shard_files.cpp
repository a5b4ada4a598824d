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

std::vector<ListedShardFile> IndexedShardFiles(const fs::path& directory, const ShardIndex& index) {
  const std::uint64_t shard_count = index.shards.size();
  std::vector<ListedShardFile> files;
  files.reserve(shard_count);
  for (std::uint64_t id = 0; id < shard_count; ++id) {
    files.push_back({ShardPath(directory, id, shard_count), index.shards[id]});
  }
  return files;
}

util::Result<std::vector<ListedShardFile>> ShardNamedFiles(const fs::path& directory) {
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
  std::vector<ListedShardFile> files;
  files.reserve(found.size());
  for (auto& [id, path] : found) files.push_back({std::move(path), std::nullopt});
  return files;
}

}  // namespace

util::Result<std::vector<ListedShardFile>> ListShardFilesWithIndex(const fs::path& directory) {
  util::Result<std::optional<ShardIndex>> index = LoadShardIndex(directory);
  if (!index) return std::move(index).TakeError();
  if (*index) return IndexedShardFiles(directory, **index);
  return ShardNamedFiles(directory);
}

util::Result<std::vector<fs::path>> ListShardFiles(const fs::path& directory) {
  util::Result<std::vector<ListedShardFile>> listed = ListShardFilesWithIndex(directory);
  if (!listed) return std::move(listed).TakeError();
  std::vector<fs::path> files;
  files.reserve(listed->size());
  for (ListedShardFile& file : *listed) files.push_back(std::move(file.path));
  return files;
}

}  // namespace boardmill::shards
