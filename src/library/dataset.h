#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::library {

// One shard file of a dataset, and what the index says about it when there is one.
struct DatasetShard {
  std::filesystem::path path;
  std::optional<shards::IndexedShard> listed;
};

// A converted directory: its shard files in id order. Read-only once open, so that readers on
// several threads can share it.
class Dataset {
 public:
  // Fails on a directory without shards, a malformed index, or `verify` without an index.
  static util::Result<std::unique_ptr<Dataset>> Open(const std::filesystem::path& directory,
                                                     bool verify);

  const std::vector<DatasetShard>& shards() const { return shards_; }
  // The records the index lists; 0 without an index.
  std::uint64_t records() const { return records_; }
  bool verify() const { return verify_; }

 private:
  Dataset(std::vector<DatasetShard> shards, bool verify);

  std::vector<DatasetShard> shards_;
  std::uint64_t records_ = 0;
  bool verify_;
};

}  // namespace boardmill::library
