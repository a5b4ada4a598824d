#include "shards/shard_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "chess/fen_parser.h"
#include "compression/zstd_file_decompressor.h"
#include "shards/shard_naming.h"
#include "shards/shard_router.h"
#include "test_support.h"

namespace boardmill::shards {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

chess::Position Parse(const std::string& fen) {
  util::Result<chess::Position> position = chess::ParseFen(fen);
  EXPECT_TRUE(position.ok()) << fen << ": " << position.error();
  return position.ok() ? *position : chess::Position();
}

TEST(ShardRouterTest, RoutesByTheEighthRankOccupancyModuloTheShardCount) {
  const chess::Position empty_rank = Parse("8/8/8/8/8/8/8/K6k w - - 0 1");
  const chess::Position corners = Parse("r6r/8/8/8/8/8/8/K6k w - - 0 1");  // a8, h8: 0x81
  const chess::Position start = Parse("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1");
  const chess::Position b8_g8 = Parse("1n4n1/8/8/8/8/8/8/K6k w - - 0 1");  // 0x42 = 66

  EXPECT_EQ(ShardRouter(256).Route(empty_rank), 0U);
  EXPECT_EQ(ShardRouter(256).Route(corners), 129U);
  EXPECT_EQ(ShardRouter(100).Route(corners), 29U);
  EXPECT_EQ(ShardRouter(256).Route(start), 255U);
  EXPECT_EQ(ShardRouter(7).Route(start), 255U % 7);
  EXPECT_EQ(ShardRouter(256).Route(b8_g8), 66U);
  EXPECT_EQ(ShardRouter(1000).Route(b8_g8), 66U);
  EXPECT_EQ(ShardRouter(1).Route(start), 0U);
}

TEST(ShardRouterTest, ZeroShardsMeansOneAndEverythingGoesToShardZero) {
  const ShardRouter router(0);
  EXPECT_EQ(router.shard_count(), 1U);
  EXPECT_EQ(router.Route(Parse("rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1")), 0U);
  EXPECT_EQ(router.RouteKey(0x81), 0U);
}

// `count` records of incompressible bytes, each distinct.
std::vector<std::uint8_t> RandomRecords(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(count * chess::kPackedSfenSize);
  for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(generator());
  return bytes;
}

std::span<const std::uint8_t> Record(const std::vector<std::uint8_t>& records, std::size_t i) {
  return std::span<const std::uint8_t>(records).subspan(i * chess::kPackedSfenSize,
                                                        chess::kPackedSfenSize);
}

std::string AsText(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

class ShardSetTest : public ::testing::Test {
 protected:
  TempDir dir_;
  const fs::path out_ = dir_ / "out";
};

TEST_F(ShardSetTest, RecordsReachTheStreamOnlyInGroupsOfRecordsPerFlush) {
  // The compressor emits its first block once it holds 128 KiB, that is 4096 records. With
  // groups of 5 the stream holds 4095 records after 4099 writes and 4100 after the next one,
  // so the shard file stays empty up to the 4099th record and gets its first block with the
  // 4100th. Record by record it would already get it with the 4096th.
  const std::vector<std::uint8_t> records = RandomRecords(4100, 11);
  ShardSet shards(out_, 1, 5, true, ShardRouter(1));
  const fs::path file = ShardPath(out_, 0, 1);
  for (std::size_t i = 0; i < 4099; ++i) {
    const auto written = shards.Write(0, Record(records, i));
    ASSERT_TRUE(written.ok()) << written.error();
    ASSERT_EQ(*written, i + 1);
  }
  EXPECT_EQ(fs::file_size(file), 0U);
  ASSERT_TRUE(shards.Write(0, Record(records, 4099)).ok());
  EXPECT_GT(fs::file_size(file), 0U);

  const auto finished = shards.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(ReadZstdFile(file), AsText(records));
}

TEST_F(ShardSetTest, PendingRecordsBelowAFullGroupAreWrittenByFinish) {
  const std::vector<std::uint8_t> records = RandomRecords(7, 5);
  ShardSet shards(out_, 3, 4, true, ShardRouter(2));
  // Three records to shard 1, fewer than a group; then a span of four to shard 0 at once.
  for (std::size_t i = 0; i < 3; ++i) {
    chess::PackedSfen record;
    std::copy_n(Record(records, i).begin(), chess::kPackedSfenSize, record.bytes.begin());
    const auto written = shards.WriteRecord(1, record);
    ASSERT_TRUE(written.ok()) << written.error();
    EXPECT_EQ(*written, i + 1);
  }
  const auto span = std::span<const std::uint8_t>(records).subspan(3 * chess::kPackedSfenSize);
  const auto written = shards.Write(0, span);
  ASSERT_TRUE(written.ok()) << written.error();
  EXPECT_EQ(*written, 4U);

  const auto finished = shards.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->records, 7U);
  EXPECT_EQ(finished->raw_bytes, 7 * chess::kPackedSfenSize);
  EXPECT_EQ(ReadZstdFile(ShardPath(out_, 0, 2)), AsText(span));
  EXPECT_EQ(ReadZstdFile(ShardPath(out_, 1, 2)),
            AsText(std::span<const std::uint8_t>(records).first(3 * chess::kPackedSfenSize)));
}

TEST_F(ShardSetTest, MisalignedPayloadIsRefusedWithoutChangingAnyCounter) {
  ShardSet shards(out_, 3, 4, true, ShardRouter(4));
  const std::vector<std::uint8_t> records = RandomRecords(2, 1);
  ASSERT_TRUE(shards.Write(2, Record(records, 0)).ok());
  const std::vector<std::uint8_t> odd(33, 0xAB);
  const auto refused = shards.Write(2, odd);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), "Shard write payload is not aligned to PackedSfen size.");
  const auto next = shards.Write(2, Record(records, 1));
  ASSERT_TRUE(next.ok()) << next.error();
  EXPECT_EQ(*next, 2U);

  const auto finished = shards.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->records, 2U);
  EXPECT_EQ(finished->raw_bytes, 64U);
  EXPECT_EQ(ReadZstdFile(ShardPath(out_, 2, 4)), AsText(records));
}

TEST_F(ShardSetTest, OutOfRangeShardIdIsRefusedAndChangesNothing) {
  ShardSet shards(out_, 3, 4, true, ShardRouter(3));
  const std::vector<std::uint8_t> records = RandomRecords(1, 2);
  for (const std::uint64_t id : {std::uint64_t{3}, std::uint64_t{1000}}) {
    const auto refused = shards.Write(id, Record(records, 0));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "Shard id is out of range.");
  }
  const auto finished = shards.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->records, 0U);
  EXPECT_FALSE(fs::exists(ShardPath(out_, 3, 3)));
}

TEST_F(ShardSetTest, PrecreatedSetLeavesEveryShardAsAValidFrameEvenIfOnlyOneIsFed) {
  const std::uint64_t count = 8;
  const ShardRouter router(count);
  ShardSet shards(out_, 3, 4, true, router);
  const auto opened = shards.Open();
  ASSERT_TRUE(opened.ok()) << opened.error();
  EXPECT_EQ(*opened, count);
  for (std::uint64_t id = 0; id < count; ++id)
    EXPECT_TRUE(fs::exists(ShardPath(out_, id, router.shard_count())));

  const std::vector<std::uint8_t> records = RandomRecords(9, 3);
  for (std::size_t i = 0; i < 9; ++i) ASSERT_TRUE(shards.Write(5, Record(records, i)).ok());
  const auto finished = shards.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->shard_count, count);
  EXPECT_EQ(finished->finished_files, count);
  EXPECT_EQ(finished->records, 9U);
  std::uint64_t total_size = 0;
  for (std::uint64_t id = 0; id < count; ++id) {
    const fs::path path = ShardPath(out_, id, router.shard_count());
    total_size += fs::file_size(path);
    const auto content = compression::DecompressZstdFile(path);
    ASSERT_TRUE(content.ok()) << path << ": " << content.error();
    EXPECT_EQ(AsText(*content), id == 5 ? AsText(records) : "") << path;
  }
  EXPECT_EQ(finished->compressed_bytes, total_size);
}

TEST_F(ShardSetTest, WithoutPrecreationOnlyFedShardsGetFiles) {
  const ShardRouter router(4);
  ShardSet shards(out_, 3, 4, false, router);
  const std::vector<std::uint8_t> records = RandomRecords(2, 4);
  ASSERT_TRUE(shards.Write(1, Record(records, 0)).ok());
  ASSERT_TRUE(shards.Write(3, Record(records, 1)).ok());
  const auto finished = shards.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->finished_files, 2U);
  EXPECT_FALSE(fs::exists(ShardPath(out_, 0, router.shard_count())));
  EXPECT_FALSE(fs::exists(ShardPath(out_, 2, router.shard_count())));
  EXPECT_EQ(ReadZstdFile(ShardPath(out_, 3, router.shard_count())), AsText(Record(records, 1)));
}

TEST_F(ShardSetTest, FinishOfASetNeverOpenedReturnsZerosAndTouchesNothing) {
  ShardSet shards(out_, 3, 4, true, ShardRouter(16));
  const auto finished = shards.Finish();
  ASSERT_TRUE(finished.ok()) << finished.error();
  EXPECT_EQ(finished->shard_count, 0U);
  EXPECT_EQ(finished->finished_files, 0U);
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(ShardSetTest, OutputDirectoryThatCannotBeCreatedIsReported) {
  WriteFile(dir_ / "blocker", "x");
  ShardSet shards(dir_ / "blocker" / "out", 3, 4, true, ShardRouter(2));
  const auto opened = shards.Open();
  ASSERT_FALSE(opened.ok());
  EXPECT_EQ(opened.error().rfind("Failed to create output directory: ", 0), 0U) << opened.error();
}

}  // namespace
}  // namespace boardmill::shards
