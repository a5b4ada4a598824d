#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "chess/packed_sfen_codec.h"
#include "pipeline/conversion_options.h"
#include "pipeline/sequential/sequential_runner.h"
#include "shards/shard_index.h"
#include "shards/shard_naming.h"
#include "shards/shard_router.h"
#include "shards/shard_verification.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

constexpr std::uint64_t kPositionCount = 3054;  // lines of sequential_positions.fen.zst

class VerifyShardsTest : public ::testing::Test {
 protected:
  // Converts the committed position set, or its first `lines` lines, into `shard_count` shards,
  // and removes the shard index: these tests judge the records themselves, as in a directory
  // an earlier version wrote. What the index adds is tested with the index.
  void Convert(std::uint64_t shard_count, std::size_t lines = kPositionCount) {
    const std::string text = ReadZstdFile(TestDataPath("sequential_positions.fen.zst"));
    std::size_t end = 0;
    for (std::size_t i = 0; i < lines; ++i) end = text.find('\n', end) + 1;
    WriteZstdFile(in_ / "positions.fen.zst", text.substr(0, end));
    ConversionOptions options;
    options.input_directory = in_;
    options.output_directory = out_;
    options.output_shard_count = shard_count;
    options.line_batch_size = 4096;
    const util::Result<ConversionSummary> summary = RunSequential(options);
    ASSERT_TRUE(summary.ok()) << summary.error();
    ASSERT_EQ(summary->encoded_positions, lines);
    ASSERT_TRUE(fs::remove(out_ / shards::kShardIndexFileName));
  }

  fs::path Shard(std::uint64_t shard_count, std::uint64_t id) const {
    return shards::ShardPath(out_, id, shard_count);
  }

  ProgramRun Verify(const std::vector<std::string>& options) const {
    std::vector<std::string> arguments = {"verify-shards", out_.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return RunBoardmill(arguments);
  }

  // The first shard holding at least `records` records.
  std::uint64_t ShardWithRecords(std::uint64_t shard_count, std::size_t records) const {
    for (std::uint64_t id = 0; id < shard_count; ++id) {
      if (ReadZstdFile(Shard(shard_count, id)).size() >= records * 32) return id;
    }
    ADD_FAILURE() << "no shard holds " << records << " records";
    return 0;
  }

  TempDir dir_;
  const fs::path in_ = dir_ / "in";
  const fs::path out_ = dir_ / "out";
};

void ExpectFailure(const ProgramRun& run, const std::string& message) {
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, message + "\n");
}

TEST_F(VerifyShardsTest, DefaultRunVerifiesWithTheDefaultShardCount) {
  Convert(256);
  const ProgramRun run = Verify({});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "Verified shard files: 256\nVerified records: 3054\n");
  EXPECT_EQ(run.err, "");
}

TEST_F(VerifyShardsTest, NeighbouringShardCountsAfterA256ShardRun) {
  Convert(256);
  // With 255 shards the names and the routing of keys below 255 are unchanged and the last
  // shard is not examined; with 257 the shard after the last one is missing, which without an
  // index says the directory holds fewer shards than that.
  const std::uint64_t last_shard_records = ReadZstdFile(Shard(256, 255)).size() / 32;
  ASSERT_GT(last_shard_records, 0U) << "the full back rank should occur in the data";
  const ProgramRun fewer = Verify({"--shards", "255"});
  EXPECT_EQ(fewer.exit_code, 0) << fewer.err;
  EXPECT_EQ(fewer.out, "Verified shard files: 255\nVerified records: " +
                           std::to_string(kPositionCount - last_shard_records) + "\n");

  ExpectFailure(Verify({"--shards", "257"}),
                "Shard count 257 does not match the 256 shard files in " + out_.string() +
                    " (no shard index; give --shards 256).");
}

TEST_F(VerifyShardsTest, ACountBeyondTheShardFilesPresentIsNamedAsSuch) {
  Convert(16);
  ExpectFailure(Verify({}), "Shard count 256 does not match the 16 shard files in " +
                                out_.string() + " (no shard index; give --shards 16).");
  // A shard missing from the middle is not a count that differs.
  fs::remove(Shard(16, 3));
  ExpectFailure(Verify({"--shards", "16"}), "Missing shard file: " + Shard(16, 3).string());
}

TEST_F(VerifyShardsTest, LastShardsOptionWins) {
  Convert(32);
  const ProgramRun run = Verify({"--shards", "16", "--shards", "32"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "Verified shard files: 32\nVerified records: 3054\n");
  // Ending with 24, records of the first 24 shards with keys of 32 and above route elsewhere.
  const ProgramRun reversed = Verify({"--shards", "32", "--shards", "24"});
  EXPECT_EQ(reversed.exit_code, 1);
  EXPECT_NE(reversed.err.find("Shard routing mismatch in "), std::string::npos) << reversed.err;
}

TEST_F(VerifyShardsTest, MalformedOptionListsShowTheUsage) {
  const ProgramRun usage = RunBoardmill({});
  struct Malformed {
    std::vector<std::string> options;
    std::string reason;
  };
  for (const Malformed& malformed :
       std::vector<Malformed>{{{"--shards"}, "--shards needs a number."},
                              {{"--shards", "12x"}, "--shards needs a number, not \"12x\"."},
                              {{"--shards", ""}, "--shards needs a number, not \"\"."},
                              {{"--count", "4"}, "Unknown option: --count"},
                              {{"--shards", "4", "--shards"}, "--shards needs a number."},
                              {{"--Shards", "4"}, "Unknown option: --Shards"}}) {
    const std::vector<std::string>& options = malformed.options;
    SCOPED_TRACE(options.size() > 1 ? options[0] + " " + options[1] : options[0]);
    const ProgramRun run = Verify(options);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, usage.out);
    EXPECT_EQ(run.err, malformed.reason + "\n");
  }
  const ProgramRun without_directory = RunBoardmill({"verify-shards"});
  EXPECT_EQ(without_directory.exit_code, 1);
  EXPECT_EQ(without_directory.out, usage.out);
}

TEST_F(VerifyShardsTest, ZeroShardsIsRefused) {
  ExpectFailure(Verify({"--shards", "0"}), "Output shard count must be at least 1.");
}

TEST_F(VerifyShardsTest, EmptyShardsVerifyWithZeroRecords) {
  fs::create_directories(in_);
  ConversionOptions options;
  options.input_directory = in_;
  options.output_directory = out_;
  options.output_shard_count = 12;
  options.line_batch_size = 4096;
  ASSERT_TRUE(RunSequential(options).ok());
  const ProgramRun run = Verify({"--shards", "12"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "Verified shard files: 12\nVerified records: 0\n");
}

TEST_F(VerifyShardsTest, DamagedShardFilesAreNamed) {
  Convert(16);
  const std::uint64_t id = ShardWithRecords(16, 2);
  const fs::path path = Shard(16, id);
  const std::string original = ReadFile(path);

  const std::string unread = "Failed to read shard file " + path.string() + ": ";
  WriteFile(path, original.substr(0, original.size() - 1));
  ExpectFailure(Verify({"--shards", "16"}),
                unread + "Zstd decompression ended before the frame was fully decoded.");

  WriteFile(path, "this is not a zstd frame");
  ExpectFailure(Verify({"--shards", "16"}),
                unread + "Zstd decompression failed: Unknown frame descriptor");

  // A valid first record followed by one stray byte.
  WriteFile(path, original);
  WriteZstdFile(path, ReadZstdFile(path).substr(0, 33));
  ExpectFailure(Verify({"--shards", "16"}),
                "Shard payload is not a whole number of PackedSfen records: " + path.string());

  fs::remove(path);
  ExpectFailure(Verify({"--shards", "16"}), "Missing shard file: " + path.string());

  fs::create_directory(path);
  ExpectFailure(Verify({"--shards", "16"}),
                unread + "Shard file is not a regular file: " + path.string());
}

TEST_F(VerifyShardsTest, ShardWhoseStatusCannotBeQueriedIsReported) {
  Convert(4);
  const fs::path path = Shard(4, 2);
  fs::remove(path);
  fs::create_symlink(path.filename(), path);  // a link to itself: too many levels of links
  ExpectFailure(Verify({"--shards", "4"}),
                "Failed to check shard file " + path.string() + ": " +
                    std::error_code(ELOOP, std::generic_category()).message());
}

// Flips bit `bit` (bit p is bit p mod 8 of byte p div 8) of the record at `offset`.
std::string FlipBit(std::string payload, std::size_t offset, std::size_t bit) {
  payload[offset + bit / 8] = static_cast<char>(payload[offset + bit / 8] ^ (1 << (bit % 8)));
  return payload;
}

// What verification must say about a shard whose third record (offset 64) is `record`, the
// rest being valid: worked out with the codec and the router directly.
std::string ExpectedVerdict(const std::string& record, std::uint64_t shard_id,
                            std::uint64_t shard_count, const fs::path& path) {
  chess::PackedSfen packed;
  std::copy(record.begin(), record.end(), packed.bytes.begin());
  const std::string at = " at record offset 64";
  const std::string in_at = " in " + path.string() + at;
  const util::Result<chess::Position> position = chess::DecodePackedSfen(packed);
  if (!position) {
    return "Decode failed for shard " + std::to_string(shard_id) + in_at + ": " + position.error();
  }
  if (shards::ShardRouter(shard_count).Route(*position) != shard_id) {
    return "Shard routing mismatch in " + path.string() + at + ".";
  }
  const util::Result<chess::PackedSfen> encoded = chess::EncodePackedSfen(*position);
  if (!encoded) {
    return "Re-encode failed for shard " + std::to_string(shard_id) + in_at + ": " +
           encoded.error();
  }
  if (*encoded != packed) return "PackedSfen round-trip mismatch in " + path.string() + at + ".";
  return "";
}

TEST_F(VerifyShardsTest, EveryFlippedBitOfARecordIsJudgedAndNamedByItsOffset) {
  Convert(4, 200);
  const std::uint64_t id = ShardWithRecords(4, 3);
  const fs::path path = Shard(4, id);
  const std::string payload = ReadZstdFile(path);
  std::map<std::string, int> kinds;
  for (std::size_t bit = 0; bit < 256; ++bit) {
    const std::string damaged = FlipBit(payload, 64, bit);
    WriteZstdFile(path, damaged);
    const util::Result<shards::ShardVerificationSummary> verified = shards::VerifyShards(out_, 4);
    const std::string verdict = verified.ok() ? "" : verified.error();
    EXPECT_EQ(verdict, ExpectedVerdict(damaged.substr(64, 32), id, 4, path)) << "bit " << bit;
    ++kinds[verdict.substr(0, verdict.find(' '))];
  }
  // A flip may give another consistent record (a piece's colour, a clock bit), but each kind of
  // detectable damage occurs for some bit of a real record.
  EXPECT_GT(kinds["Decode"], 0);
  EXPECT_GT(kinds["Shard"], 0);
  EXPECT_GT(kinds["PackedSfen"], 0);
}

TEST_F(VerifyShardsTest, CommandReportsTheFirstFlippedRecordLikeTheLibrary) {
  Convert(16);
  const std::uint64_t id = ShardWithRecords(16, 2);
  const fs::path path = Shard(16, id);
  const std::string payload = ReadZstdFile(path);
  // Bit 0 of a record is the side to move; the board starts at bit 13. Try board bits of the
  // second record until one is caught.
  for (std::size_t bit = 13; bit < 64; ++bit) {
    WriteZstdFile(path, FlipBit(payload, 32, bit));
    const util::Result<shards::ShardVerificationSummary> verified = shards::VerifyShards(out_, 16);
    if (verified.ok()) continue;
    EXPECT_NE(verified.error().find(" at record offset 32"), std::string::npos) << verified.error();
    ExpectFailure(Verify({"--shards", "16"}), verified.error());
    return;
  }
  FAIL() << "no board bit flip of the second record was caught";
}

}  // namespace
}  // namespace boardmill::pipeline
