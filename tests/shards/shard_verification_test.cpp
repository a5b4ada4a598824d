#include "shards/shard_verification.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"
#include "shards/shard_index.h"
#include "shards/shard_naming.h"
#include "shards/shard_router.h"
#include "shards/shard_set.h"
#include "test_support.h"

namespace boardmill::shards {
namespace {

using namespace boardmill::testing;

chess::PackedSfen Record(const std::string& fen) {
  const util::Result<chess::Position> position = chess::ParseFen(fen);
  EXPECT_TRUE(position.ok()) << fen;
  const util::Result<chess::PackedSfen> record = chess::EncodePackedSfen(*position);
  EXPECT_TRUE(record.ok()) << fen;
  return *record;
}

// Two shards whose records sit where occupancy routing would not put them: the start position
// (key 255, so shard 1 of 2) in shard 0 and a position with an empty eighth rank (shard 0) in
// shard 1, as a shuffle may leave them.
class ShuffledShardsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(ShardRouter(2).Route(*chess::ParseFen(kStart)), 1U);
    ShardSet set(out_, 3, 1, true, ShardRouter(2));
    ASSERT_TRUE(set.WriteRecord(0, Record(kStart)).ok());
    ASSERT_TRUE(set.WriteRecord(1, Record(kEmptyEighthRank)).ok());
    util::Result<ShardSetSummary> finished = set.Finish();
    ASSERT_TRUE(finished.ok()) << finished.error();
    shards_ = finished->shards;
  }

  util::Result<ShardVerificationSummary> VerifyIndexedAs(RoutingKind routing) {
    EXPECT_TRUE(WriteShardIndex(out_, routing, shards_).ok());
    return VerifyShards(out_, ShardVerificationRequest{});
  }

  static constexpr char kStart[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
  static constexpr char kEmptyEighthRank[] = "8/8/8/8/8/8/8/K6k w - - 0 1";
  TempDir dir_;
  const std::filesystem::path out_ = dir_ / "out";
  std::vector<IndexedShard> shards_;
};

TEST_F(ShuffledShardsTest, ChecksEachRecordsShardOnlyUnderARoutingThatPlacesRecords) {
  const util::Result<ShardVerificationSummary> shuffled = VerifyIndexedAs(RoutingKind::kShuffle);
  ASSERT_TRUE(shuffled.ok()) << shuffled.error();
  EXPECT_EQ(shuffled->verified_files, 2U);
  EXPECT_EQ(shuffled->verified_records, 2U);

  const util::Result<ShardVerificationSummary> occupancy = VerifyIndexedAs(RoutingKind::kOccupancy);
  ASSERT_FALSE(occupancy.ok());
  EXPECT_EQ(occupancy.error(),
            "Shard routing mismatch in " + ShardPath(out_, 0, 2).string() + " at record offset 0.");
}

TEST_F(ShuffledShardsTest, KeepsEveryOtherCheckUnderAShuffle) {
  shards_[1].records = 2;
  const util::Result<ShardVerificationSummary> verified = VerifyIndexedAs(RoutingKind::kShuffle);
  ASSERT_FALSE(verified.ok());
  EXPECT_EQ(verified.error(),
            "Shard record count differs from the shard index: " + ShardPath(out_, 1, 2).string() +
                " holds 1 records, the index lists 2.");
}

}  // namespace
}  // namespace boardmill::shards
