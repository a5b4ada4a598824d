#include "pipeline/sequential/framed_shard_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "shards/shard_naming.h"
#include "test_support.h"
#include "util/byte_digest.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;

chess::PackedSfen Record(std::uint32_t number) {
  chess::PackedSfen record;
  for (std::size_t byte = 0; byte < 4; ++byte) record.bytes[byte] = number >> (8 * byte);
  return record;
}

void Append(std::string& bytes, const chess::PackedSfen& record) {
  bytes.append(record.bytes.begin(), record.bytes.end());
}

// Three shards at the floor budget (six 32 KiB pages): shard 0 gets most records, shard 1 a few,
// shard 2 none. Shard 0 overflows the budget many times, so its file is a series of frames that
// must decompress to its records in order; the empty shard still gets a readable file; the
// summary and the index entries describe the files as written.
TEST(FramedShardFilesTest, ShardsOverflowingTheBudgetBecomeFramesThatKeepTheirRecordsInOrder) {
  const testing::TempDir temp;
  const shards::ShardRouter router(3);
  FramedShardFiles files(temp.path(), 3, true, router, 0);
  ASSERT_TRUE(files.Open());

  std::string expected[3];
  for (std::uint32_t number = 0; number < 40000; ++number) {
    const std::uint64_t shard = number % 50 == 0 ? 1 : 0;
    ASSERT_TRUE(files.WriteRecord(shard, Record(number)));
    Append(expected[shard], Record(number));
  }
  EXPECT_FALSE(files.WriteRecord(3, Record(0)));
  const util::Result<shards::ShardSetSummary> summary = files.Finish();
  ASSERT_TRUE(summary) << summary.error();

  EXPECT_EQ(summary->finished_files, 3U);
  EXPECT_EQ(summary->records, 40000U);
  EXPECT_EQ(summary->raw_bytes, 40000U * chess::kPackedSfenSize);
  std::uint64_t stored = 0;
  for (std::uint64_t shard = 0; shard < 3; ++shard) {
    const fs::path path = shards::ShardPath(temp.path(), shard, 3);
    EXPECT_EQ(testing::ReadZstdFile(path), expected[shard]) << path;
    const util::Result<util::ByteDigest> digest = util::DigestFile(path);
    ASSERT_TRUE(digest);
    EXPECT_EQ(summary->shards[shard], shards::DescribeShard(expected[shard].size() / 32, *digest));
    stored += digest->bytes();
  }
  EXPECT_EQ(summary->compressed_bytes, stored);
  EXPECT_GT(testing::ZstdFrameCount(testing::ReadFile(shards::ShardPath(temp.path(), 0, 3))), 4U);
  EXPECT_EQ(testing::ZstdFrameCount(testing::ReadFile(shards::ShardPath(temp.path(), 2, 3))), 1U);
}

}  // namespace
}  // namespace boardmill::pipeline
