// --memory-ceiling-mib in every mode: a ceiling a mode cannot keep is refused before the output
// directory exists; one it can keep bounds the run's peak memory, the parallel mode starts only
// the workers that fit and the staged mode shrinks its blocks.
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "child_process.h"
#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kSlackKib = 64 * 1024;
// Under the sanitizers a process's resident size is mostly the sanitizer's own.
constexpr bool kMeasuresMemory = !kAddressSanitizerBuild && !kThreadSanitizerBuild;

struct MeasuredRun {
  bool succeeded = false;
  std::uint64_t peak_rss_kib = 0;
};

// Runs a conversion to its end; whether it exited 0, and its own peak resident set size.
MeasuredRun RunMeasured(const fs::path& input, const fs::path& output,
                        const std::vector<std::string>& extra) {
  Child child(input, output, extra);
  child.WaitWhileRunning([] { return false; });
  return {child.ExitedWith(0), child.PeakRssKib()};
}

// "<prefix><a number> MiB.\n": the refusal's one line, whatever the estimate comes to.
bool IsRefusal(const std::string& text, const std::string& prefix) {
  const std::string suffix = " MiB.\n";
  if (!text.starts_with(prefix) || !text.ends_with(suffix)) return false;
  const std::string number =
      text.substr(prefix.size(), text.size() - prefix.size() - suffix.size());
  return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
}

// A run refused with that one line on standard error, nothing on standard output, exit 1.
void ExpectRefusal(const ProgramRun& run, const std::string& prefix) {
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(IsRefusal(run.err, prefix)) << run.err;
}

// Positions from the test data with fullmove numbers that keep every line distinct, so that the
// files compress about as well as real ones do.
void WritePositionFiles(const fs::path& directory, int files, int lines) {
  std::vector<std::string> positions = Split(ReadZstdFile(TestDataPath("positions.fen.zst")), '\n');
  positions.erase(std::remove(positions.begin(), positions.end(), ""), positions.end());
  for (int file = 0; file < files; ++file) {
    std::string text;
    for (int line = 0; line < lines; ++line) {
      const std::string& fen = positions[(file * 379 + line) % positions.size()];
      text += fen.substr(0, fen.rfind(' ') + 1) + std::to_string(1 + line) + "\n";
    }
    WriteZstdFile(directory / ("input-" + std::to_string(file) + ".fen.zst"), text);
  }
}

class MemoryCeilingTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeInputs(input(), 6, 400); }

  fs::path input() const { return temp_ / "in"; }
  fs::path output() const { return temp_ / "out"; }

  TempDir temp_;
};

TEST_F(MemoryCeilingTest, ACeilingAModeCannotKeepIsRefusedBeforeAnythingIsTouched) {
  ExpectRefusal(Convert(input(), output(), {"--sequential", "--memory-ceiling-mib", "24"}),
                "Memory ceiling of 24 MiB is too small: a sequential run writing 256 "
                "level-8 shards in frames needs about ");

  ExpectRefusal(Convert(input(), output(), {"--parallel", "--memory-ceiling-mib", "20"}),
                "Memory ceiling of 20 MiB is too small: a parallel worker at level 8 "
                "needs about ");

  ExpectRefusal(
      Convert(input(), output(), {"--staged", "--max-threads", "2", "--memory-ceiling-mib", "64"}),
      "Memory ceiling of 64 MiB is too small: a staged run writing 256 shards "
      "with 11 stage threads needs about ");
  EXPECT_FALSE(fs::exists(output()));
}

TEST_F(MemoryCeilingTest, ACeilingTheRunCanKeepBoundsItsMemoryAndItsWorkers) {
  const ProgramRun reference = Convert(input(), temp_ / "reference", {"--sequential"});
  ASSERT_EQ(reference.exit_code, 0) << reference.err;
  const std::map<std::string, std::string> expected = ShardContents(temp_ / "reference");

  // Four level-8 streams fit in 64 MiB; 256 would not.
  const MeasuredRun sequential = RunMeasured(
      input(), output(), {"--sequential", "--shards", "4", "--memory-ceiling-mib", "64"});
  ASSERT_TRUE(sequential.succeeded);
  if (kMeasuresMemory) {
    EXPECT_LE(sequential.peak_rss_kib, 64 * 1024 + kSlackKib);
  }
  EXPECT_EQ(SummaryValues(output() / "run-summary.txt")["memory_ceiling_mib"], "64");

  // 48 MiB holds one parallel worker of the four asked for.
  fs::remove_all(output());
  const MeasuredRun parallel = RunMeasured(
      input(), output(), {"--parallel", "--max-threads", "4", "--memory-ceiling-mib", "48"});
  ASSERT_TRUE(parallel.succeeded);
  if (kMeasuresMemory) {
    EXPECT_LE(parallel.peak_rss_kib, 48 * 1024 + kSlackKib);
  }
  std::map<std::string, std::string> summary = SummaryValues(output() / "run-summary.txt");
  EXPECT_EQ(summary["memory_ceiling_mib"], "48");
  EXPECT_EQ(summary["memory_worker_cap"], "1");
  EXPECT_EQ(summary["effective_max_workers"], "1");
  EXPECT_EQ(summary["requested_worker_cap"], "4");
  EXPECT_EQ(ShardContents(output()), expected);
}

// 256 level-8 shard streams need far more than 1024 MiB, so under these ceilings the sequential
// mode writes frames; with room for its streams it keeps one frame per shard.
TEST_F(MemoryCeilingTest, ASequentialRunWithoutRoomForItsStreamsWritesFramesWithinTheCeiling) {
  const fs::path input = temp_ / "large";
  WritePositionFiles(input, 4, 100000);
  const ProgramRun reference =
      Convert(input, temp_ / "reference", {"--sequential", "--memory-ceiling-mib", "4096"});
  ASSERT_EQ(reference.exit_code, 0) << reference.err;
  EXPECT_NE(reference.out.find("\nSequential writer: streams\n"), std::string::npos);
  EXPECT_EQ(SummaryValues(temp_ / "reference" / "run-summary.txt")["sequential_writer"], "streams");
  const std::map<std::string, std::string> expected = ShardContents(temp_ / "reference");
  for (const auto& [name, content] : expected) {
    EXPECT_EQ(ZstdFrameCount(ReadFile(temp_ / "reference" / name)), 1U) << name;
  }

  for (const std::uint64_t ceiling_mib : {1024, 128}) {
    SCOPED_TRACE(ceiling_mib);
    fs::remove_all(output());
    const MeasuredRun sequential = RunMeasured(
        input, output(), {"--sequential", "--memory-ceiling-mib", std::to_string(ceiling_mib)});
    ASSERT_TRUE(sequential.succeeded);
    if (kMeasuresMemory) {
      EXPECT_LE(sequential.peak_rss_kib, ceiling_mib * 1024 + kSlackKib);
    }
    EXPECT_EQ(SummaryValues(output() / "run-summary.txt")["sequential_writer"], "frames");
    EXPECT_TRUE(ShardContents(output()) == expected);
  }
}

TEST_F(MemoryCeilingTest, ATightCeilingGivesStagedRunsSmallerFramesTheSameRecordsAndItsMemory) {
  // Enough positions that the largest shard spans several of the frames this ceiling allows.
  const fs::path input = temp_ / "large";
  WritePositionFiles(input, 4, 100000);
  const MeasuredRun staged = RunMeasured(
      input, output(), {"--staged", "--max-threads", "2", "--memory-ceiling-mib", "256"});
  ASSERT_TRUE(staged.succeeded);
  if (kMeasuresMemory) {
    EXPECT_LE(staged.peak_rss_kib, 256 * 1024 + kSlackKib);
  }
  ASSERT_EQ(Convert(input, temp_ / "reference", {"--sequential"}).exit_code, 0);
  EXPECT_TRUE(ShardContents(output()) == ShardContents(temp_ / "reference"));
  EXPECT_EQ(SummaryValues(output() / "run-summary.txt")["memory_ceiling_mib"], "256");

  // Full-size blocks hold 4 MiB of records each; this shard's are smaller.
  fs::path largest;
  for (const fs::directory_entry& entry : fs::directory_iterator(output())) {
    const bool shard = entry.path().filename().string().starts_with("shard-");
    if (shard && (largest.empty() || entry.file_size() > fs::file_size(largest))) {
      largest = entry.path();
    }
  }
  ASSERT_FALSE(largest.empty());
  const std::uint64_t full_size_frames = (ReadZstdFile(largest).size() + (4 << 20) - 1) >> 22;
  EXPECT_GT(ZstdFrameCount(ReadFile(largest)), full_size_frames);
}

}  // namespace
}  // namespace boardmill::testing
