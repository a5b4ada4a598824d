#include "shards/shard_index.h"

#include <gtest/gtest.h>
#include <xxhash.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "shards/shard_index_reader.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;
using shards::IndexedShard;
using shards::kShardIndexFileName;

const std::vector<std::string> kModes = {"--sequential", "--parallel", "--staged"};

std::uint64_t Xxh64(const std::string& bytes) { return XXH64(bytes.data(), bytes.size(), 0); }

class ShardIndexModeTest : public ConversionDirectoriesTest<::testing::TestWithParam<std::string>> {
};

// Two inputs, each above the parallel mode's smallest group of files, so that its shards are
// merged from several fragments; and shards above the 256 routing keys, which stay empty.
TEST_P(ShardIndexModeTest, ListsEveryShardAsItIsOnDisk) {
  fs::create_directories(in_);
  fs::copy_file(TestDataPath("positions.fen.zst"), in_ / "a.fen.zst");
  fs::copy_file(TestDataPath("positions.fen.zst"), in_ / "b.fen.zst");
  const ProgramRun run = Convert(in_, out_, {GetParam(), "--shards", "260", "--max-threads", "2"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  ExpectIndexDescribesShards(out_, 260);
  const std::string index = ReadFile(out_ / shards::kShardIndexFileName);
  EXPECT_NE(index.find("\"total_records\": " +
                       SummaryValues(out_ / "run-summary.txt").at("encoded_positions") + ",\n"),
            std::string::npos);
}

TEST_P(ShardIndexModeTest, ARunRemovesTheIndexAnEarlierRunLeft) {
  MakeInputs(in_, 2, 50);
  ASSERT_EQ(Convert(in_, out_, {GetParam(), "--shards", "4"}).exit_code, 0);
  ASSERT_TRUE(fs::exists(out_ / shards::kShardIndexFileName));
  WriteFile(in_ / "input-999.fen.zst", "not zstd");
  ASSERT_EQ(Convert(in_, out_, {GetParam(), "--shards", "4"}).exit_code, 1);
  EXPECT_FALSE(fs::exists(out_ / shards::kShardIndexFileName));
}

INSTANTIATE_TEST_SUITE_P(EveryMode, ShardIndexModeTest, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(2);
                         });

class IndexedVerifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeInputs(in_, 3, 300);
    const ProgramRun run = Convert(in_, out_, {"--sequential", "--shards", "8"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    total_records_ = SummaryValues(out_ / "run-summary.txt").at("encoded_positions");
  }

  ProgramRun Verify(const std::vector<std::string>& options) const {
    std::vector<std::string> arguments = {"verify-shards", out_.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return RunBoardmill(arguments);
  }

  fs::path Shard(std::uint64_t id) const { return shards::ShardPath(out_, id, 8); }

  std::vector<IndexedShard> Index() const {
    const util::Result<std::optional<shards::ShardIndex>> index = shards::LoadShardIndex(out_);
    EXPECT_TRUE(index.ok() && index->has_value());
    return index.ok() && index->has_value() ? (*index)->shards : std::vector<IndexedShard>{};
  }

  TempDir temp_;
  const fs::path in_ = temp_ / "in";
  const fs::path out_ = temp_ / "out";
  std::string total_records_;
};

// What both checks must say about a shard file whose bytes are `stored` instead of `written`:
// the size is compared first, then the hash.
std::string StoredBytesVerdict(const fs::path& path, const std::string& stored,
                               const std::string& written) {
  if (stored.size() != written.size()) {
    return "Shard file size differs from the shard index: " + path.string() + " has " +
           std::to_string(stored.size()) + " bytes, the index lists " +
           std::to_string(written.size()) + ".";
  }
  return "Shard file hash differs from the shard index: " + path.string() + " has xxh64 " +
         shards::FormatXxh64(Xxh64(stored)) + ", the index lists " +
         shards::FormatXxh64(Xxh64(written)) + ".";
}

TEST_F(IndexedVerifyTest, EveryDamageIsNamedByTheFullAndTheQuickCheck) {
  const ProgramRun intact = Verify({"--quick"});
  ExpectRun(intact, 0, "Verified shard files: 8\nIndexed records: " + total_records_ + "\n", "");

  fs::create_directories(temp_ / "other-in");
  fs::copy_file(TestDataPath("sequential_positions.fen.zst"), temp_ / "other-in" / "a.fen.zst");
  ASSERT_EQ(
      Convert(temp_ / "other-in", temp_ / "other", {"--sequential", "--shards", "8"}).exit_code, 0);
  const fs::path path = Shard(3);
  const std::string written = ReadFile(path);
  ASSERT_GT(written.size(), 100U);
  const std::string other_run = ReadFile(temp_ / "other" / path.filename());
  ASSERT_NE(other_run, written);
  std::string flipped = written;
  flipped[written.size() / 2] ^= 0x10;

  struct Damage {
    const char* name;
    std::function<void()> apply;
  };
  const std::vector<Damage> damages = {
      {"flipped byte", [&] { WriteFile(path, flipped); }},
      {"cut file", [&] { WriteFile(path, written.substr(0, written.size() - 7)); }},
      {"file of another run", [&] { WriteFile(path, other_run); }},
      {"missing file", [&] { fs::remove(path); }},
  };
  for (const Damage& damage : damages) {
    SCOPED_TRACE(damage.name);
    WriteFile(path, written);
    damage.apply();
    const std::string verdict = fs::exists(path) ? StoredBytesVerdict(path, ReadFile(path), written)
                                                 : "Missing shard file: " + path.string();
    ExpectRun(Verify({}), 1, "", verdict + "\n");
    ExpectRun(Verify({"--quick"}), 1, "", verdict + "\n");
  }
}

TEST_F(IndexedVerifyTest, OnlyTheFullCheckCountsTheRecords) {
  std::vector<IndexedShard> index = Index();
  ASSERT_EQ(index.size(), 8U);
  const std::uint64_t records = index[5].records;
  ++index[5].records;  // the bytes and hash still match
  WriteFile(out_ / shards::kShardIndexFileName,
            shards::FormatShardIndex(shards::RoutingKind::kOccupancy, index));

  ExpectRun(Verify({}), 1, "",
            "Shard record count differs from the shard index: " + Shard(5).string() + " holds " +
                std::to_string(records) + " records, the index lists " +
                std::to_string(records + 1) + ".\n");
  ExpectRun(Verify({"--quick"}), 0,
            "Verified shard files: 8\nIndexed records: " +
                std::to_string(std::stoull(total_records_) + 1) + "\n",
            "");
}

TEST_F(IndexedVerifyTest, TheIndexGivesTheShardCountAndQuickNeedsIt) {
  ExpectRun(Verify({}), 0, "Verified shard files: 8\nVerified records: " + total_records_ + "\n",
            "");
  const std::string index_path = (out_ / shards::kShardIndexFileName).string();
  ExpectRun(Verify({"--shards", "16"}), 1, "",
            "Shard count 16 differs from the 8 shards of the shard index: " + index_path + "\n");

  WriteFile(out_ / shards::kShardIndexFileName, "[]");
  ExpectRun(Verify({"--quick"}), 1, "",
            "Invalid shard index " + index_path + ": expected '{' at byte 0.\n");

  fs::remove(out_ / shards::kShardIndexFileName);
  ExpectRun(Verify({"--quick"}), 1, "",
            "Quick verification needs a shard index, and there is none: " + index_path + "\n");
  // Without an index, as before: 256 shards unless told otherwise.
  EXPECT_EQ(Verify({}).exit_code, 1);
  ExpectRun(Verify({"--shards", "8"}), 0,
            "Verified shard files: 8\nVerified records: " + total_records_ + "\n", "");
}

}  // namespace
}  // namespace boardmill::testing
