#include "shards/shard_naming.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace boardmill::shards {
namespace {

namespace fs = std::filesystem;

TEST(ShardNamingTest, NamesArePaddedToTheDigitsOfTheLastIdButAtLeastThree) {
  const fs::path dir = "out";
  struct Case {
    std::uint64_t count;
    std::uint64_t id;
    std::string name;
  };
  for (const Case& c : std::vector<Case>{{1, 0, "shard-000.psfen.zst"},
                                         {10, 0, "shard-000.psfen.zst"},
                                         {10, 9, "shard-009.psfen.zst"},
                                         {256, 255, "shard-255.psfen.zst"},
                                         {1000, 7, "shard-007.psfen.zst"},
                                         {1000, 999, "shard-999.psfen.zst"},
                                         {1001, 0, "shard-0000.psfen.zst"},
                                         {1001, 1000, "shard-1000.psfen.zst"},
                                         {0, 0, "shard-000.psfen.zst"}}) {
    EXPECT_EQ(ShardPath(dir, c.id, c.count), dir / c.name) << c.count << " shards, id " << c.id;
    // What names a shard reads back as that shard, or the listing of a directory loses it.
    EXPECT_EQ(ParseShardFileName(c.name), c.id) << c.name;
  }
}

TEST(ShardNamingTest, TakesNoOtherFileForAShard) {
  for (const char* name :
       {"shard-01.psfen.zst", "shard-0a1.psfen.zst", "shard-001.psfen.zst.partial",
        "shard--01.psfen.zst", "shard-001.zst", "Shard-001.psfen.zst",
        "shard-00000000000000000001.psfen.zst", "shard-index.json", "boardmill.lock"}) {
    EXPECT_EQ(ParseShardFileName(name), std::nullopt) << name;
  }
}

}  // namespace
}  // namespace boardmill::shards
