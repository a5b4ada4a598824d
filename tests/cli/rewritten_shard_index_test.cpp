// shard-index.json as a JSON tool may leave it: keys sorted, indented otherwise, members this
// version does not know. verify-shards and decode-shards read it as the index boardmill wrote;
// what it says about the shards is still checked against the files.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "shards/shard_index.h"
#include "shards/shard_index_reader.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;
using shards::IndexedShard;

constexpr std::uint64_t kShardCount = 8;

// `shards` written with every object's keys sorted, four-space indentation, and members a later
// version might add, at the top and in each shard.
std::string RewrittenIndex(const std::vector<IndexedShard>& shards) {
  std::uint64_t total = 0;
  for (const IndexedShard& shard : shards) total += shard.records;
  std::string text =
      "{\n"
      "    \"compression\": \"zstd\",\n"
      "    \"created_by\": {\"name\": \"a later boardmill\", \"options\": [1, 2.5, null, true]},\n"
      "    \"format\": \"boardmill-shards\",\n"
      "    \"record_bytes\": 32,\n"
      "    \"record_format\": \"PackedSfen\",\n"
      "    \"routing\": \"eighth-rank occupancy byte mod shard_count\",\n"
      "    \"shard_count\": " +
      std::to_string(shards.size()) +
      ",\n"
      "    \"shards\": [\n";
  for (std::size_t id = 0; id < shards.size(); ++id) {
    text += "        {\n            \"bytes\": " + std::to_string(shards[id].bytes) +
            ",\n            \"file\": \"" + shards::ShardFileName(id, shards.size()) +
            "\",\n            \"positions_per_game\": 1.5,\n            \"raw_bytes\": " +
            std::to_string(shards[id].records * 32) +
            ",\n            \"records\": " + std::to_string(shards[id].records) +
            ",\n            \"xxh64\": \"" + shards::FormatXxh64(shards[id].xxh64) +
            "\"\n        }" + (id + 1 < shards.size() ? ",\n" : "\n");
  }
  return text + "    ],\n    \"total_records\": " + std::to_string(total) +
         ",\n    \"version\": 1\n}\n";
}

class RewrittenShardIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeInputs(in_, 3, 300);
    const ProgramRun run =
        Convert(in_, out_, {"--sequential", "--shards", std::to_string(kShardCount)});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const util::Result<std::optional<shards::ShardIndex>> index = shards::LoadShardIndex(out_);
    ASSERT_TRUE(index.ok() && index->has_value());
    written_ = (*index)->shards;
  }

  // Writes the rewritten form of `shards` over the run's index.
  void RewriteIndex(const std::vector<IndexedShard>& shards) const {
    WriteFile(out_ / shards::kShardIndexFileName, RewrittenIndex(shards));
  }

  ProgramRun Verify(const std::vector<std::string>& options) const {
    std::vector<std::string> arguments = {"verify-shards", out_.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return RunBoardmill(arguments);
  }

  fs::path Shard(std::uint64_t id) const { return shards::ShardPath(out_, id, kShardCount); }

  TempDir temp_;
  const fs::path in_ = temp_ / "in";
  const fs::path out_ = temp_ / "out";
  std::vector<IndexedShard> written_;
};

TEST_F(RewrittenShardIndexTest, VerifiesAndDecodesLikeTheIndexItWrote) {
  const ProgramRun decoded = RunBoardmill({"decode-shards", out_.string()});
  ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
  const ProgramRun verified = Verify({});
  ASSERT_EQ(verified.exit_code, 0) << verified.err;
  const ProgramRun quick = Verify({"--quick"});
  ASSERT_EQ(quick.exit_code, 0) << quick.err;

  RewriteIndex(written_);
  ExpectRun(Verify({}), 0, verified.out, "");
  ExpectRun(Verify({"--quick"}), 0, quick.out, "");
  ExpectRun(RunBoardmill({"decode-shards", out_.string()}), 0, decoded.out, "");
}

TEST_F(RewrittenShardIndexTest, AChangedCountSizeOrHashIsStillRefused) {
  std::uint64_t shard = 0;
  while (written_[shard].records == 0) ++shard;
  const std::string path = Shard(shard).string();
  const IndexedShard& real = written_[shard];
  struct Change {
    const char* name;
    std::function<void(IndexedShard&)> apply;
    std::vector<std::string> options;  // the check that finds it
    std::string message;
  };
  const std::vector<Change> changes = {
      {"records",
       [](IndexedShard& listed) { ++listed.records; },
       {},
       "Shard record count differs from the shard index: " + path + " holds " +
           std::to_string(real.records) + " records, the index lists " +
           std::to_string(real.records + 1) + "."},
      {"bytes",
       [](IndexedShard& listed) { ++listed.bytes; },
       {"--quick"},
       "Shard file size differs from the shard index: " + path + " has " +
           std::to_string(real.bytes) + " bytes, the index lists " +
           std::to_string(real.bytes + 1) + "."},
      {"xxh64",
       [](IndexedShard& listed) { listed.xxh64 ^= 1; },
       {"--quick"},
       "Shard file hash differs from the shard index: " + path + " has xxh64 " +
           shards::FormatXxh64(real.xxh64) + ", the index lists " +
           shards::FormatXxh64(real.xxh64 ^ 1) + "."},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.name);
    std::vector<IndexedShard> listed = written_;
    change.apply(listed[shard]);
    RewriteIndex(listed);
    ExpectRun(Verify(change.options), 1, "", change.message + "\n");
  }
}

}  // namespace
}  // namespace boardmill::testing
