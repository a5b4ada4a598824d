#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "pipeline/parallel/fragment_file.h"
#include "pipeline/run_progress.h"
#include "shards/shard_index.h"
#include "shards/shard_router.h"
#include "util/result.h"

namespace boardmill::pipeline {

struct ShardMergeSummary {
  std::uint64_t output_files = 0;
  std::uint64_t merged_bytes = 0;
  double write_seconds = 0.0;
  double merge_seconds = 0.0;
  std::vector<shards::IndexedShard> shards;  // per shard id, what its file received
};

// A fragment file to merge, with its index.
struct FragmentSource {
  std::filesystem::path path;
  FragmentIndex index;
};

// The shards one process merges: every `step`-th shard from `first`. Across an MPI job each rank
// merges its own; alone, a process merges them all.
struct ShardSubset {
  std::uint64_t first = 0;
  std::uint64_t step = 1;

  // Across an MPI job of `ranks` ranks, rank `rank` merges every K-th shard from its rank number.
  static ShardSubset OfRank(int rank, int ranks) {
    return {static_cast<std::uint64_t>(rank), static_cast<std::uint64_t>(ranks)};
  }
  // How many of `shard_count` shards the subset holds.
  std::uint64_t CountOf(std::uint64_t shard_count) const {
    return first >= shard_count ? 0 : (shard_count - first + step - 1) / step;
  }
};

// Builds the final shard files from the fragments: each shard receives its frames from every
// fragment in the order given (file order), each fragment's frames in the order they were
// written. Frames are complete Zstandard frames, so their bytes are copied unchanged. Every
// shard file is created, one without frames empty.
class ShardMerger {
 public:
  ShardMerger(std::filesystem::path output_directory, bool precreate_shards,
              std::uint64_t merge_threads, shards::ShardRouter router,
              RunProgress* progress = nullptr)
      : output_directory_(std::move(output_directory)),
        precreate_shards_(precreate_shards),
        merge_threads_(merge_threads == 0 ? 1 : merge_threads),
        router_(router),
        progress_(progress) {}

  util::Result<ShardMergeSummary> Merge(const std::vector<FragmentSource>& fragments,
                                        ShardSubset subset = {}) const;

 private:
  std::filesystem::path output_directory_;
  bool precreate_shards_;
  std::uint64_t merge_threads_;
  shards::ShardRouter router_;
  RunProgress* progress_;
};

}  // namespace boardmill::pipeline
