#pragma once

#include <cstdint>
#include <vector>

namespace boardmill::pipeline {

// A run of consecutive input files that one parallel task converts into one fragment. Grouping
// small files pays the per-task costs (a fragment, its frames, a manifest flush) once per group
// instead of once per file, and gives each shard's frame enough records to compress well.
struct FileGroup {
  std::uint64_t first_file = 0;
  std::uint64_t file_count = 0;

  friend bool operator==(const FileGroup&, const FileGroup&) = default;
};

// How many compressed input bytes a group should hold: enough tasks to keep every worker busy to
// the end (four per worker), each large enough to pay its way, none so large that a resume has
// much to redo.
std::uint64_t GroupTargetBytes(std::uint64_t pending_bytes, std::uint64_t workers);

// Cuts the pending files (ascending indices) into groups of consecutive indices holding at most
// `target_bytes` of input each, a file larger than the target making a group of its own. A gap
// in the indices (a file completed by an earlier run) always ends a group. `file_bytes` holds
// every file's size, by index.
std::vector<FileGroup> GroupPendingFiles(const std::vector<std::uint64_t>& pending,
                                         const std::vector<std::uint64_t>& file_bytes,
                                         std::uint64_t target_bytes);

}  // namespace boardmill::pipeline
