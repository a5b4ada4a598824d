#include "pipeline/shuffle/shard_finisher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"
#include "test_support.h"

namespace boardmill::shuffle {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

chess::PackedSfen Encode(const std::string& fen) {
  return *chess::EncodePackedSfen(*chess::ParseFen(fen));
}

// Entries of one output shard spread over two files: few positions, each seen many times with
// other move counters, so that ranges hold long runs of duplicates.
class ShardFinisherTest : public ::testing::TestWithParam<DedupMode> {
 protected:
  void SetUp() override {
    const char* const boards[] = {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq -",
                                  "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3",
                                  "8/8/8/8/8/8/8/K6k w - -", "4k3/8/8/8/8/8/4P3/4K3 w - -"};
    for (std::uint64_t file = 0; file < 2; ++file) {
      std::vector<ShuffleEntry> entries;
      for (std::uint64_t index = 0; index < 600; ++index) {
        const std::string fen = std::string(boards[index % 4]) + " " + std::to_string(index % 7) +
                                " " + std::to_string(1 + index % 11);
        entries.push_back({Encode(fen), MakeOrdinal(file, index)});
      }
      paths_.push_back(dir_ / ("input-" + std::to_string(file)));
      SpreadFileWriter writer(1);
      ASSERT_TRUE(writer.Open(paths_.back()).ok());
      for (std::size_t at = 0; at < entries.size(); at += 100) {
        ASSERT_TRUE(writer.AppendBlock(0, std::span(entries).subspan(at, 100)).ok());
      }
      ASSERT_TRUE(writer.Commit({}).ok());
      entries_.insert(entries_.end(), entries.begin(), entries.end());
    }
    for (const fs::path& path : paths_) {
      const util::Result<SpreadFooter> footer = ReadSpreadFooter(path);
      ASSERT_TRUE(footer.ok());
      for (const SpreadBlock& block : footer->blocks) {
        blocks_.push_back({&path, block});
      }
    }
  }

  std::string FinishWith(std::uint64_t capacity_entries, const std::string& name) {
    const RecordKeys keys(GetParam(), 42, 1);
    ShardFinisher finisher(keys, capacity_entries, 3);
    const util::Result<shards::IndexedShard> shard = finisher.Finish(blocks_, dir_ / name);
    EXPECT_TRUE(shard.ok()) << (shard ? "" : shard.error());
    return testing::ReadZstdFile(dir_ / name);
  }

  TempDir dir_;
  std::vector<fs::path> paths_;
  std::vector<ShuffleEntry> entries_;
  std::vector<BlockSource> blocks_;
};

TEST_P(ShardFinisherTest, AShardDoneInSmallRangesEqualsTheShardDoneWhole) {
  const std::string whole = FinishWith(1 << 20, "whole");
  EXPECT_EQ(FinishWith(8, "ranges"), whole);
  EXPECT_EQ(FinishWith(300, "half"), whole);
  // Deduplication keeps one record of each group: exact keeps the 4 x 7 x 11 distinct records
  // (both files repeat them), board the first record of each of the 4 positions, with its own
  // move counters.
  const std::size_t records = whole.size() / chess::kPackedSfenSize;
  switch (GetParam()) {
    case DedupMode::kNone:
      EXPECT_EQ(records, entries_.size());
      break;
    case DedupMode::kExact:
      EXPECT_EQ(records, 4U * 7 * 11);
      break;
    case DedupMode::kBoard:
      ASSERT_EQ(records, 4U);
      for (std::size_t first = 0; first < 4; ++first) {
        const std::string bytes(entries_[first].record.bytes.begin(),
                                entries_[first].record.bytes.end());
        EXPECT_NE(whole.find(bytes), std::string::npos) << first;
      }
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(EachDedup, ShardFinisherTest,
                         ::testing::Values(DedupMode::kNone, DedupMode::kExact, DedupMode::kBoard));

}  // namespace
}  // namespace boardmill::shuffle
