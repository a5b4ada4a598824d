#include "library/dataset.h"

#include <utility>

#include "shards/shard_files.h"
#include "shards/shard_index_reader.h"

namespace boardmill::library {

util::Result<std::unique_ptr<Dataset>> Dataset::Open(const std::filesystem::path& directory,
                                                     bool verify) {
  util::Result<std::optional<shards::ShardIndex>> index = shards::LoadShardIndex(directory);
  if (!index) return std::move(index).TakeError();
  if (verify && !*index) {
    return util::Fail("Verifying needs a shard index, and there is none: " +
                      (directory / shards::kShardIndexFileName).string());
  }
  util::Result<std::vector<std::filesystem::path>> files = shards::ListShardFiles(directory);
  if (!files) return std::move(files).TakeError();
  std::vector<DatasetShard> shards;
  shards.reserve(files->size());
  for (std::size_t id = 0; id < files->size(); ++id) {
    shards.push_back({std::move((*files)[id]), std::nullopt});
    if (*index) shards.back().listed = (*index)->shards[id];
  }
  return std::unique_ptr<Dataset>(new Dataset(std::move(shards), verify));
}

Dataset::Dataset(std::vector<DatasetShard> shards, bool verify)
    : shards_(std::move(shards)), verify_(verify) {
  for (const DatasetShard& shard : shards_) {
    if (shard.listed) records_ += shard.listed->records;
  }
}

}  // namespace boardmill::library
