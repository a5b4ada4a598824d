#include "pipeline/shuffle/input_shards.h"

#include <algorithm>
#include <iterator>
#include <system_error>

#include "shards/shard_files.h"
#include "shards/shard_index_reader.h"
#include "shards/shard_naming.h"

namespace boardmill::shuffle {

namespace {

namespace fs = std::filesystem;

util::Result<void> AppendShardsOf(const fs::path& directory, std::uint64_t directory_place,
                                  std::vector<InputShard>& shards) {
  std::error_code error;
  if (!fs::is_directory(directory, error)) {
    return util::Fail("Input directory does not exist: " + directory.string());
  }
  util::Result<std::optional<shards::ShardIndex>> index = shards::LoadShardIndex(directory);
  if (!index) return std::move(index).TakeError();
  util::Result<std::vector<fs::path>> files = shards::ListShardFiles(directory);
  if (!files) return std::move(files).TakeError();
  for (std::uint64_t id = 0; id < files->size(); ++id) {
    InputShard shard{.path = (*files)[id],
                     .sequence = shards.size(),
                     .directory = directory_place,
                     .listed = std::nullopt};
    if (*index) shard.listed = (*index)->shards[id];
    shards.push_back(std::move(shard));
  }
  return {};
}

// The path made absolute and free of "." and "..", following the links that exist, so that two
// spellings of one place compare equal.
fs::path Resolved(const fs::path& path) {
  std::error_code error;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path, error), error);
  return error ? fs::absolute(path).lexically_normal() : resolved;
}

bool IsWithin(const fs::path& path, const fs::path& directory) {
  const fs::path::iterator directory_end =
      std::mismatch(directory.begin(), directory.end(), path.begin(), path.end()).first;
  // A directory spelt with a trailing separator ends in an empty element.
  return directory_end == directory.end() ||
         (std::next(directory_end) == directory.end() && directory_end->empty());
}

}  // namespace

util::Result<std::vector<InputShard>> ListInputShards(std::span<const fs::path> directories) {
  std::vector<InputShard> shards;
  for (std::uint64_t place = 0; place < directories.size(); ++place) {
    util::Result<void> listed = AppendShardsOf(directories[place], place, shards);
    if (!listed) return std::move(listed).TakeError();
  }
  return shards;
}

util::Result<void> CheckOutputOutsideInputs(const fs::path& output_directory,
                                            std::span<const fs::path> directories) {
  const fs::path output = Resolved(output_directory);
  for (const fs::path& directory : directories) {
    if (IsWithin(output, Resolved(directory))) {
      return util::Fail("Output directory lies inside an input directory: " +
                        output_directory.string());
    }
  }
  return {};
}

}  // namespace boardmill::shuffle
