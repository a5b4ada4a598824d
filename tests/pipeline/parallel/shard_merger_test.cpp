#include "pipeline/parallel/shard_merger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

// The merger copies fragment bytes unchanged, so plain text stands in for compressed frames.
TEST(ShardMergerTest, ConcatenatesEachShardsFragmentsInFileOrderSkippingAbsentOnes) {
  const TempDir temp;
  const ShardRouter router(4);
  const fs::path output = temp.path() / "out";
  const std::vector<fs::path> files = {temp.path() / "f0", temp.path() / "f1",
                                       temp.path() / "never-created", temp.path() / "f3"};
  WriteFile(router.ShardPath(files[0], 0), "a0");
  WriteFile(router.ShardPath(files[0], 2), "c0");
  WriteFile(router.ShardPath(files[1], 2), "c1");
  WriteFile(files[1] / "unrelated.txt", "ignored");
  WriteFile(router.ShardPath(files[3], 0), "a3");

  const ShardMerger merger(output, /*precreate_shards=*/false, /*merge_threads=*/2, router);
  const util::Result<ShardMergeSummary> merged = merger.Merge(files);

  ASSERT_TRUE(merged) << merged.error();
  EXPECT_EQ(ReadFile(router.ShardPath(output, 0)), "a0a3");
  EXPECT_EQ(ReadFile(router.ShardPath(output, 1)), "");
  EXPECT_EQ(ReadFile(router.ShardPath(output, 2)), "c0c1");
  EXPECT_EQ(ReadFile(router.ShardPath(output, 3)), "");
  EXPECT_EQ(merged->output_files, 2U);
  EXPECT_EQ(merged->merged_bytes, 8U);
}

TEST(ShardMergerTest, AFragmentDirectoryThatCannotBeListedFailsTheMerge) {
  const TempDir temp;
  const ShardRouter router(2);
  const fs::path not_a_directory = temp.path() / "f0";
  WriteFile(not_a_directory, "a regular file where a fragment directory belongs");

  const ShardMerger merger(temp.path() / "out", /*precreate_shards=*/true, 1, router);
  const util::Result<ShardMergeSummary> merged = merger.Merge({not_a_directory});

  ASSERT_FALSE(merged);
  EXPECT_EQ(merged.error(),
            "Failed to check shard fragments in " + not_a_directory.string() + ": Not a directory");
}

}  // namespace
}  // namespace boardmill::pipeline
