#include "pipeline/shuffle/shuffle_scratch.h"

#include <gtest/gtest.h>
#include <xxhash.h>

#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::shuffle {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

shards::IndexedShard Describe(const std::string& bytes) {
  return {1, bytes.size(), XXH64(bytes.data(), bytes.size(), 0)};
}

// What a resumed run takes from an earlier one decides its output, so it must take only what
// still is as the earlier run left it, and only from a run of the same settings.
TEST(ShuffleScratchTest, ResumesOnlyFromItsOwnSettingsAndFromShardsStillAsListed) {
  TempDir dir;
  const fs::path output = dir / "out";
  fs::create_directories(output);
  {
    ShuffleScratch earlier(dir / "scratch", "shards=2\nseed=1\n");
    ASSERT_TRUE(earlier.Prepare(false).ok());
    ASSERT_TRUE(earlier.OpenFinishedList(0).ok());
    for (std::uint64_t id = 0; id < 2; ++id) {
      const std::string bytes = "shard " + std::to_string(id);
      testing::WriteFile(shards::ShardPath(output, id, 2), bytes);
      ASSERT_TRUE(earlier.RecordFinishedShard(id, Describe(bytes)).ok());
    }
  }
  testing::WriteFile(shards::ShardPath(output, 1, 2), "shard 1, rewritten");

  ShuffleScratch other(dir / "scratch", "shards=2\nseed=2\n");
  EXPECT_FALSE(other.Prepare(true).ok());

  ShuffleScratch resumed(dir / "scratch", "shards=2\nseed=1\n");
  ASSERT_TRUE(resumed.Prepare(true).ok());
  const auto finished = resumed.FinishedShards(output, 2);
  ASSERT_EQ(finished.size(), 1U);
  EXPECT_EQ(finished.at(0), Describe("shard 0"));

  ASSERT_TRUE(other.Prepare(false).ok());  // a fresh run forgets the earlier one
  EXPECT_TRUE(other.FinishedShards(output, 2).empty());
}

}  // namespace
}  // namespace boardmill::shuffle
