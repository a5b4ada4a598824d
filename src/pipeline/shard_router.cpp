#include "pipeline/shard_router.h"

#include <string>

namespace boardmill::pipeline {

namespace {

constexpr std::size_t kMinimumIdDigits = 3;

std::size_t DecimalDigits(std::uint64_t value) { return std::to_string(value).size(); }

}  // namespace

std::filesystem::path ShardRouter::ShardPath(const std::filesystem::path& directory,
                                             std::uint64_t shard_id) const {
  const std::size_t width = std::max(kMinimumIdDigits, DecimalDigits(shard_count_ - 1));
  std::string id = std::to_string(shard_id);
  if (id.size() < width) id.insert(0, width - id.size(), '0');
  return directory / ("shard-" + id + ".psfen.zst");
}

}  // namespace boardmill::pipeline
