#include "pipeline/parallel/file_group.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace boardmill::pipeline {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

TEST(FileGroupTest, ConsecutiveFilesShareAGroupUpToTheTargetAndAGapEndsIt) {
  const std::vector<std::uint64_t> sizes = {3, 3, 3, 3, 9, 1, 1, 1, 1};
  // File 7 was completed by an earlier run.
  const std::vector<std::uint64_t> pending = {0, 1, 2, 3, 4, 5, 6, 8};
  EXPECT_EQ(GroupPendingFiles(pending, sizes, 6),
            (std::vector<FileGroup>{{0, 2}, {2, 2}, {4, 1}, {5, 2}, {8, 1}}));
  EXPECT_TRUE(GroupPendingFiles({}, sizes, 6).empty());
}

// A resumed run plans its pending files from the same target as the run it continues, so
// groups the interrupted run completed leave the others exactly as that run cut them.
TEST(FileGroupTest, AResumedPlanMatchesTheRemainingGroupsOfTheFullPlan) {
  const std::vector<std::uint64_t> sizes = {2, 5, 1, 1, 4, 2, 2, 6, 1};
  const std::vector<FileGroup> full = GroupPendingFiles({0, 1, 2, 3, 4, 5, 6, 7, 8}, sizes, 6);
  ASSERT_EQ(full, (std::vector<FileGroup>{{0, 1}, {1, 2}, {3, 2}, {5, 2}, {7, 1}, {8, 1}}));
  // The groups of files 1-2 and 5-6 were completed.
  EXPECT_EQ(GroupPendingFiles({0, 3, 4, 7, 8}, sizes, 6),
            (std::vector<FileGroup>{{0, 1}, {3, 2}, {7, 1}, {8, 1}}));
}

TEST(FileGroupTest, TargetGivesFourGroupsPerWorkerWithinItsBounds) {
  EXPECT_EQ(GroupTargetBytes(800 * kMiB, 2), 64 * kMiB);
  EXPECT_EQ(GroupTargetBytes(64 * kMiB, 2), 8 * kMiB);
  EXPECT_EQ(GroupTargetBytes(1000, 2), 64 * std::uint64_t{1024});
  EXPECT_EQ(GroupTargetBytes(64 * kMiB, 0), 16 * kMiB);
}

}  // namespace
}  // namespace boardmill::pipeline
