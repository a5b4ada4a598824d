#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"
#include "conversion_run_support.h"
#include "shards/shard_index.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kShards = 8;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

std::string Joined(const std::vector<std::string>& lines, std::size_t first, std::size_t count) {
  std::string text;
  for (std::size_t i = first; i < first + count; ++i) text += lines.at(i) + "\n";
  return text;
}

// The sample data set converted once for every test of the suite.
class DecodeShardsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new TempDir();
    const ProgramRun run = Convert(BOARDMILL_SAMPLE_DATA_DIR, Out(), {"--shards", "8"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const ProgramRun decoded = RunBoardmill({"decode-shards", Out().string()});
    ASSERT_EQ(decoded.exit_code, 0) << decoded.err;
    fens_ = new std::vector<std::string>(Lines(decoded.out));
  }
  static void TearDownTestSuite() {
    delete fens_;
    delete temp_;
  }

  static fs::path Out() { return temp_->path() / "out"; }
  static fs::path Shard(std::uint64_t id) { return shards::ShardPath(Out(), id, kShards); }
  static std::size_t RecordsIn(std::uint64_t id) { return ReadZstdFile(Shard(id)).size() / 32; }

  static TempDir* temp_;
  static std::vector<std::string>* fens_;
  TempDir scratch_;
};

TempDir* DecodeShardsTest::temp_ = nullptr;
std::vector<std::string>* DecodeShardsTest::fens_ = nullptr;

TEST_F(DecodeShardsTest, EveryRecordComesOutInOrderAsAFenThatEncodesBackToIt) {
  std::string records;
  for (std::uint64_t id = 0; id < kShards; ++id) records += ReadZstdFile(Shard(id));
  ASSERT_EQ(fens_->size() * 32, records.size());
  ASSERT_EQ(std::to_string(fens_->size()),
            SummaryValues(Out() / "run-summary.txt").at("encoded_positions"));
  const ProgramRun hex = RunBoardmill({"decode-shards", Out().string(), "--hex"});
  ASSERT_EQ(hex.exit_code, 0) << hex.err;
  const std::vector<std::string> hex_lines = Lines(hex.out);
  ASSERT_EQ(hex_lines.size(), fens_->size());

  for (std::size_t i = 0; i < fens_->size(); ++i) {
    chess::PackedSfen stored;
    std::copy_n(records.begin() + static_cast<std::ptrdiff_t>(32 * i), 32, stored.bytes.begin());
    const util::Result<chess::Position> position = chess::ParseFen((*fens_)[i]);
    ASSERT_TRUE(position.ok()) << (*fens_)[i] << ": " << position.error();
    const util::Result<chess::PackedSfen> encoded = chess::EncodePackedSfen(*position);
    ASSERT_TRUE(encoded.ok()) << (*fens_)[i] << ": " << encoded.error();
    ASSERT_EQ(*encoded, stored) << "record " << i << ": " << (*fens_)[i];
    ASSERT_EQ(hex_lines[i], chess::FormatPackedSfenHex(stored)) << "record " << i;
  }
}

TEST_F(DecodeShardsTest, ALimitOrOneShardFilePrintsItsPartOfTheWhole) {
  const std::size_t first = RecordsIn(0);
  const std::size_t limit = first + 2;  // across the first shard's end
  ExpectRun(RunBoardmill({"decode-shards", Out().string(), "--limit", std::to_string(limit)}), 0,
            Joined(*fens_, 0, limit), "");
  ExpectRun(RunBoardmill({"decode-shards", Out().string(), "--limit", "0"}), 0, "", "");
  ExpectRun(RunBoardmill({"decode-shards", Shard(1).string()}), 0,
            Joined(*fens_, first, RecordsIn(1)), "");
}

TEST_F(DecodeShardsTest, WithoutAnIndexOnlyFilesNamedLikeShardsAreRead) {
  const fs::path copy = scratch_ / "out";
  fs::create_directories(copy);
  for (std::uint64_t id = 0; id < kShards; ++id)
    fs::copy_file(Shard(id), copy / Shard(id).filename());
  // run-summary.txt marks the run finished, so that the lock file beside it is read as a finished
  // run's.
  for (const char* name : {"run-summary.txt", "boardmill.lock", "shard-index.json.partial",
                           "shard-99.psfen.zst", "shard-008.psfen.zst.partial", "notes.txt"}) {
    WriteFile(copy / name, "not a shard");
  }
  ExpectRun(RunBoardmill({"decode-shards", copy.string()}), 0, Joined(*fens_, 0, fens_->size()),
            "");
  ExpectRun(RunBoardmill({"decode-shards", (scratch_ / "missing").string()}), 1, "",
            "No such shard file or directory: " + (scratch_ / "missing").string() + "\n");
  ExpectRun(RunBoardmill({"decode-shards", scratch_.path().string()}), 1, "",
            "No shard files in directory: " + scratch_.path().string() + "\n");
}

TEST_F(DecodeShardsTest, ADamagedShardEndsTheOutputWithOneLineNamingFileAndRecord) {
  const std::string payload = ReadZstdFile(Shard(0));
  ASSERT_GE(payload.size(), 64U * 32);
  const fs::path path = scratch_ / "shard-000.psfen.zst";
  const std::string at = " of " + path.string() + ": ";

  // Three records, 32 zero bytes (both kings on a1), then a good one.
  WriteZstdFile(path, payload.substr(0, 96) + std::string(32, '\0') + payload.substr(96, 32));
  const std::string bad_record =
      "Failed to decode record 3" + at + "PackedSfen contains invalid king squares.\n";
  ExpectRun(RunBoardmill({"decode-shards", path.string()}), 1, Joined(*fens_, 0, 3), bad_record);
  const ProgramRun hex = RunBoardmill({"decode-shards", path.string(), "--hex"});
  EXPECT_EQ(Lines(hex.out).size(), 3U);
  EXPECT_EQ(hex.err, bad_record);

  WriteZstdFile(path, payload.substr(0, 69));
  ExpectRun(RunBoardmill({"decode-shards", path.string()}), 1, Joined(*fens_, 0, 2),
            "Failed to decode record 2" + at + "the data ends 5 bytes into the record.\n");

  WriteFile(path, "not a zstd frame");
  ExpectRun(
      RunBoardmill({"decode-shards", path.string()}), 1, "",
      "Failed to decode record 0" + at + "Zstd decompression failed: Unknown frame descriptor\n");

  // A stream cut short: whatever came before the cut is printed, and the record after it named.
  const std::string stored = ReadFile(Shard(0));
  WriteFile(path, stored.substr(0, stored.size() / 2));
  const ProgramRun cut = RunBoardmill({"decode-shards", path.string()});
  const std::size_t printed = Lines(cut.out).size();
  EXPECT_EQ(cut.exit_code, 1);
  EXPECT_EQ(cut.out, Joined(*fens_, 0, printed));
  EXPECT_EQ(cut.err, "Failed to decode record " + std::to_string(printed) + at +
                         "Zstd decompression ended before the frame was fully decoded.\n");
}

TEST_F(DecodeShardsTest, AReaderThatStopsEarlyEndsTheOutputQuietly) {
  // Far more output than a pipe holds, so the command is still writing when `head` leaves.
  ASSERT_GT(Joined(*fens_, 0, fens_->size()).size(), std::size_t{2} << 16);
  const fs::path status = scratch_ / "status";
  const ProgramRun run =
      RunShell("{ '" + std::string(BOARDMILL_BINARY) + "' decode-shards '" + Out().string() +
               "'; echo $? >'" + status.string() + "'; } | head -n 1");
  EXPECT_EQ(run.out, (*fens_)[0] + "\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadFile(status), "0\n");
}

}  // namespace
}  // namespace boardmill::testing
