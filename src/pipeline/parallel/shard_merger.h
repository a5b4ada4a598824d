#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "pipeline/shard_router.h"
#include "util/result.h"

namespace boardmill::pipeline {

struct ShardMergeSummary {
  std::uint64_t output_files = 0;
  std::uint64_t merged_bytes = 0;
  double write_seconds = 0.0;
  double merge_seconds = 0.0;
};

// Builds the final shard files by concatenating each shard's fragment files, in file order.
// Every fragment is a complete Zstandard frame, so the bytes are copied unchanged.
class ShardMerger {
 public:
  ShardMerger(std::filesystem::path output_directory, bool precreate_shards,
              std::uint64_t merge_threads, ShardRouter router)
      : output_directory_(std::move(output_directory)),
        precreate_shards_(precreate_shards),
        merge_threads_(merge_threads == 0 ? 1 : merge_threads),
        router_(router) {}

  util::Result<ShardMergeSummary> Merge(
      const std::vector<std::filesystem::path>& fragment_directories) const;

 private:
  std::filesystem::path output_directory_;
  bool precreate_shards_;
  std::uint64_t merge_threads_;
  ShardRouter router_;
};

}  // namespace boardmill::pipeline
