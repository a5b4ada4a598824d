#include "pipeline/parallel/file_group.h"

#include <algorithm>

namespace boardmill::pipeline {

namespace {

constexpr std::uint64_t kGroupsPerWorker = 4;
constexpr std::uint64_t kMinGroupBytes = std::uint64_t{64} << 10;
constexpr std::uint64_t kMaxGroupBytes = std::uint64_t{64} << 20;

}  // namespace

std::uint64_t GroupTargetBytes(std::uint64_t pending_bytes, std::uint64_t workers) {
  const std::uint64_t share =
      pending_bytes / (std::max<std::uint64_t>(workers, 1) * kGroupsPerWorker);
  return std::clamp(share, kMinGroupBytes, kMaxGroupBytes);
}

std::vector<FileGroup> GroupPendingFiles(const std::vector<std::uint64_t>& pending,
                                         const std::vector<std::uint64_t>& file_bytes,
                                         std::uint64_t target_bytes) {
  std::vector<FileGroup> groups;
  std::uint64_t group_bytes = 0;
  for (const std::uint64_t file : pending) {
    const std::uint64_t bytes = file_bytes[file];
    const bool continues = !groups.empty() &&
                           groups.back().first_file + groups.back().file_count == file &&
                           group_bytes + bytes <= target_bytes;
    if (continues) {
      ++groups.back().file_count;
      group_bytes += bytes;
    } else {
      groups.push_back({file, 1});
      group_bytes = bytes;
    }
  }
  return groups;
}

}  // namespace boardmill::pipeline
