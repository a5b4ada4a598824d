// What verify-shards and decode-shards do with files no finished run leaves: special files in a
// shard's or the index's place, shards that differ from their index or inflate without end, and
// the leftovers of a run that did not finish.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zstd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "conversion_run_support.h"
#include "shards/shard_index.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kShards = 8;
// Under the sanitizers a process's resident size is mostly the sanitizer's own.
constexpr bool kMeasuresMemory = !kAddressSanitizerBuild && !kThreadSanitizerBuild;

// The sample data set converted once; each test reads a copy of the parts it needs.
class ShardReaderRefusalsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new TempDir();
    const ProgramRun run = Convert(BOARDMILL_SAMPLE_DATA_DIR, Finished(), {"--shards", "8"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
  }
  static void TearDownTestSuite() { delete temp_; }

  static fs::path Finished() { return temp_->path() / "out"; }

  // The shards and index of the finished run, plus the files named in `extra`, in a directory of
  // their own.
  fs::path CopyShards(const std::vector<std::string>& extra = {"run-summary.txt"}) {
    const fs::path copy = scratch_ / "copy";
    fs::create_directories(copy);
    for (std::uint64_t id = 0; id < kShards; ++id) {
      const std::string name = shards::ShardFileName(id, kShards);
      fs::copy_file(Finished() / name, copy / name);
    }
    fs::copy_file(Finished() / shards::kShardIndexFileName, copy / shards::kShardIndexFileName);
    for (const std::string& name : extra) fs::copy(Finished() / name, copy / name);
    return copy;
  }

  TempDir scratch_;
  static TempDir* temp_;
};

TempDir* ShardReaderRefusalsTest::temp_ = nullptr;

// boardmill under a time limit, so that a reader blocked on a FIFO fails the test (exit 124)
// instead of hanging it.
ProgramRun RunLimited(const std::vector<std::string>& arguments) {
  std::string command = "timeout 60 " + QuoteForShell(BOARDMILL_BINARY);
  for (const std::string& argument : arguments) command.append(" ").append(QuoteForShell(argument));
  return RunShell(command);
}

// Both checks, the full one and the quick one.
void ExpectVerificationRefuses(const fs::path& directory, const std::string& message) {
  ExpectRun(RunLimited({"verify-shards", directory.string()}), 1, "", message + "\n");
  ExpectRun(RunLimited({"verify-shards", directory.string(), "--quick"}), 1, "", message + "\n");
}

// Both checks and the decoder.
void ExpectEveryReaderRefuses(const fs::path& directory, const std::string& message) {
  ExpectVerificationRefuses(directory, message);
  ExpectRun(RunLimited({"decode-shards", directory.string()}), 1, "", message + "\n");
}

// --- Links and special files --------------------------------------------------------------

TEST_F(ShardReaderRefusalsTest, AFifoInAShardsPlaceIsRefusedWithoutBlocking) {
  const fs::path copy = CopyShards();
  const fs::path shard = shards::ShardPath(copy, 0, kShards);
  fs::remove(shard);
  ASSERT_EQ(mkfifo(shard.c_str(), 0644), 0);
  const std::string refusal = "Shard file is not a regular file: " + shard.string();
  ExpectVerificationRefuses(copy, refusal);
  const std::string decode_refusal =
      "Failed to decode record 0 of " + shard.string() + ": " + refusal + "\n";
  ExpectRun(RunLimited({"decode-shards", copy.string()}), 1, "", decode_refusal);
  // Without an index, the files named like shards are read, the FIFO among them.
  fs::remove(copy / shards::kShardIndexFileName);
  ExpectRun(RunLimited({"verify-shards", copy.string(), "--shards", "8"}), 1, "",
            "Failed to read shard file " + shard.string() + ": " + refusal + "\n");
  ExpectRun(RunLimited({"decode-shards", copy.string()}), 1, "", decode_refusal);
}

TEST_F(ShardReaderRefusalsTest, AnIndexThatIsAFifoOrADeviceIsRefused) {
  const fs::path copy = CopyShards();
  const fs::path index = copy / shards::kShardIndexFileName;
  const std::string refusal = "Shard index is not a regular file: " + index.string();
  fs::remove(index);
  ASSERT_EQ(mkfifo(index.c_str(), 0644), 0);
  ExpectEveryReaderRefuses(copy, refusal);
  fs::remove(index);
  fs::create_symlink("/dev/zero", index);
  ExpectEveryReaderRefuses(copy, refusal);
}

// --- Checked decoding and bounded memory ----------------------------------------------------

// A flipped bit may leave every record decodable but changed; only the index's hash shows it.
TEST_F(ShardReaderRefusalsTest, DecodingWithAnIndexFailsOnEveryFlippedBitNamingTheShard) {
  const fs::path copy = CopyShards();
  const fs::path shard = shards::ShardPath(copy, 1, kShards);
  const std::string stored = ReadFile(shard);
  const std::string before =
      RunBoardmill({"decode-shards", shards::ShardPath(Finished(), 0, kShards).string()}).out;
  int caught_by_hash = 0;
  for (std::size_t byte = stored.size() / 4; byte < stored.size(); byte += stored.size() / 40) {
    std::string flipped = stored;
    flipped[byte] = static_cast<char>(flipped[byte] ^ 0x10);
    WriteFile(shard, flipped);
    const ProgramRun run = RunBoardmill({"decode-shards", copy.string()});
    SCOPED_TRACE("byte " + std::to_string(byte) + ": " + run.err);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_NE(run.err.find(shard.string()), std::string::npos);
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1);
    if (run.err.starts_with("Shard file hash differs from the shard index: " + shard.string())) {
      ++caught_by_hash;
      EXPECT_TRUE(run.out.starts_with(before));  // what was printed before the check stays
    }
  }
  EXPECT_GT(caught_by_hash, 0);
}

// A shard of `inflated` zero bytes, a few KiB on disk.
void WriteZeroBomb(const fs::path& path, std::uint64_t inflated) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 1);
  const std::string zeros(std::size_t{1} << 20, '\0');
  std::string output(ZSTD_CStreamOutSize(), '\0');
  std::string stored;
  for (std::uint64_t done = 0; done < inflated; done += zeros.size()) {
    const bool last = done + zeros.size() >= inflated;
    ZSTD_inBuffer in{zeros.data(), zeros.size(), 0};
    std::size_t remaining = 0;
    do {
      ZSTD_outBuffer out{output.data(), output.size(), 0};
      remaining = ZSTD_compressStream2(context, &out, &in, last ? ZSTD_e_end : ZSTD_e_continue);
      ASSERT_FALSE(ZSTD_isError(remaining));
      stored.append(output.data(), out.pos);
    } while (last ? remaining != 0 : in.pos < in.size);
  }
  ZSTD_freeCCtx(context);
  WriteFile(path, stored);
}

TEST_F(ShardReaderRefusalsTest, AShardInflatingToGigabytesIsVerifiedInBoundedMemory) {
  if (!kMeasuresMemory) GTEST_SKIP() << "resident size is the sanitizer's";
  const fs::path directory = scratch_ / "bomb";
  const fs::path shard = shards::ShardPath(directory, 0, 1);
  fs::create_directories(directory);
  WriteZeroBomb(shard, std::uint64_t{512} << 20);
  ASSERT_LT(fs::file_size(shard), std::uint64_t{1} << 20);
  Child child({"verify-shards", directory.string(), "--shards", "1", "--no-progress"});
  child.Wait();
  EXPECT_TRUE(child.ExitedWith(1));
  EXPECT_LT(child.PeakRssKib(), 64U * 1024);
  ExpectRun(RunBoardmill({"verify-shards", directory.string(), "--shards", "1"}), 1, "",
            "Decode failed for shard 0 in " + shard.string() +
                " at record offset 0: PackedSfen contains invalid king squares.\n");
}

TEST_F(ShardReaderRefusalsTest, AnIndexLargerThanAnyRunWritesIsRefused) {
  const fs::path copy = CopyShards();
  const fs::path index = copy / shards::kShardIndexFileName;
  fs::resize_file(index, (std::uint64_t{64} << 20) + 1);
  ExpectEveryReaderRefuses(copy, "Shard index is larger than 64 MiB: " + index.string());
}

// --- Unfinished runs --------------------------------------------------------------------------

TEST_F(ShardReaderRefusalsTest, EachMarkOfAnUnfinishedRunIsRefusedUnlessAllowed) {
  const std::string run_start =
      "record_type\tphase\ttimestamp\tpayload\nrun\tstart\tT\tmode=parallel\n";
  const std::string run_finish = run_start + "run\tfinish\tT\tstatus=success\n";
  struct Mark {
    std::string name;
    std::string content;  // empty for a directory
    std::string shown;    // how the refusal names it
  };
  for (const Mark& mark : std::vector<Mark>{
           {"boardmill.lock", "\n", "boardmill.lock"},
           {"_scratch", "", "_scratch"},
           {"run-manifest.tsv", run_start, "run-manifest.tsv ends with a run start"},
           {"run-manifest.tsv", run_finish + run_start.substr(run_start.find("run\t")),
            "run-manifest.tsv ends with a run start"}}) {
    SCOPED_TRACE(mark.shown);
    const fs::path copy = CopyShards({});
    if (mark.content.empty()) {
      fs::create_directory(copy / mark.name);
    } else {
      WriteFile(copy / mark.name, mark.content);
    }
    const std::string refusal = "Shard directory holds a run that did not finish (" + mark.shown +
                                ", no run-summary.txt): " + copy.string() +
                                " (--allow-unfinished reads it anyway)\n";
    ExpectRun(RunBoardmill({"verify-shards", copy.string()}), 1, "", refusal);
    ExpectRun(RunBoardmill({"verify-shards", copy.string(), "--quick"}), 1, "", refusal);
    ExpectRun(RunBoardmill({"decode-shards", copy.string()}), 1, "", refusal);
    ExpectRun(RunBoardmill({"decode-shards", shards::ShardPath(copy, 0, kShards).string()}), 1, "",
              refusal);
    EXPECT_EQ(RunBoardmill({"verify-shards", copy.string(), "--allow-unfinished"}).exit_code, 0);
    EXPECT_EQ(RunBoardmill({"decode-shards", copy.string(), "--allow-unfinished"}).exit_code, 0);
    fs::remove_all(copy);
  }
}

TEST_F(ShardReaderRefusalsTest, AFinishedManifestOrBareShardsAreReadAsBefore) {
  const fs::path copy = CopyShards({});
  EXPECT_EQ(RunBoardmill({"verify-shards", copy.string()}).exit_code, 0);
  WriteFile(copy / "run-manifest.tsv",
            "run\tstart\tT\tmode=parallel\nfile\tcompleted\tT\t0\nrun\tfinish\tT\tstatus=success");
  EXPECT_EQ(RunBoardmill({"verify-shards", copy.string()}).exit_code, 0);
  EXPECT_EQ(RunBoardmill({"decode-shards", copy.string()}).exit_code, 0);
}

}  // namespace
}  // namespace boardmill::testing
