// The staged mode under --memory-ceiling-mib: a ceiling it cannot keep is refused with one line
// before anything is created; a tight one it can keep makes it write smaller frames, the same
// records as the sequential mode, and stay within the ceiling (plus what the program, its
// libraries and its threads take in any case).

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::TempDir;

// Sanitizer runtimes keep shadow memory and freed blocks of their own: peak memory says nothing
// about the program there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizedBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizedBuild = true;
#else
constexpr bool kSanitizedBuild = false;
#endif
#else
constexpr bool kSanitizedBuild = false;
#endif

constexpr std::uint64_t kCeilingMib = 256;
constexpr std::uint64_t kAllowanceMib = 64;

struct MeasuredRun {
  int exit_code = -1;
  std::uint64_t peak_rss_kib = 0;
};

// Runs the program with its output streams discarded and reads the child's peak resident set
// from the kernel's accounting of it.
MeasuredRun RunMeasured(const std::vector<std::string>& arguments) {
  std::vector<std::string> storage = {BOARDMILL_BINARY};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);
  MeasuredRun measured;
  const pid_t child = fork();
  if (child == 0) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(126);
    if (std::freopen("/dev/null", "w", stderr) == nullptr) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (child < 0) return measured;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return measured;
  measured.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  measured.peak_rss_kib = static_cast<std::uint64_t>(usage.ru_maxrss);
  return measured;
}

// Positions from the test data with fullmove numbers that keep every line distinct, so that the
// files compress about as well as real ones do.
void WritePositionFiles(const fs::path& directory, int files, int lines) {
  std::vector<std::string> positions =
      testing::Split(testing::ReadZstdFile(testing::TestDataPath("positions.fen.zst")), '\n');
  positions.erase(std::remove(positions.begin(), positions.end(), ""), positions.end());
  for (int file = 0; file < files; ++file) {
    std::string text;
    for (int line = 0; line < lines; ++line) {
      const std::string& fen = positions[(file * 379 + line) % positions.size()];
      text += fen.substr(0, fen.rfind(' ') + 1) + std::to_string(1 + line) + "\n";
    }
    testing::WriteZstdFile(directory / ("input-" + std::to_string(file) + ".fen.zst"), text);
  }
}

std::uint64_t FrameCount(const std::string& bytes) {
  std::uint64_t frames = 0;
  for (std::size_t offset = 0; offset < bytes.size(); ++frames) {
    const std::size_t size =
        ZSTD_findFrameCompressedSize(bytes.data() + offset, bytes.size() - offset);
    if (ZSTD_isError(size)) return 0;
    offset += size;
  }
  return frames;
}

class StagedMemoryCeilingTest : public ::testing::Test {
 protected:
  std::vector<std::string> Arguments(const fs::path& out, const std::vector<std::string>& mode) {
    std::vector<std::string> arguments = {
        "convert", in_.string(), out.string(), "--max-threads", "2", "--min-free-space-gib", "0"};
    arguments.insert(arguments.end(), mode.begin(), mode.end());
    return arguments;
  }

  TempDir temp_;
  const fs::path in_ = temp_ / "in";
};

TEST_F(StagedMemoryCeilingTest, ACeilingTooSmallIsRefusedBeforeTheOutputExists) {
  testing::MakeInputs(in_, 3, 100);
  const fs::path out = temp_ / "out";
  const ProgramRun run =
      testing::RunBoardmill(Arguments(out, {"--staged", "--memory-ceiling-mib", "64"}));
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  const std::string head =
      "Memory ceiling of 64 MiB is too small: a staged run writing 256 shards with 11 stage "
      "threads needs about ";
  EXPECT_EQ(run.err.rfind(head, 0), 0U) << run.err;
  EXPECT_TRUE(run.err.ends_with(" MiB.\n")) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(StagedMemoryCeilingTest, ATightCeilingGivesSmallerFramesTheSameRecordsAndStaysWithinIt) {
  // Enough positions that the largest shard spans several of the frames this ceiling allows.
  WritePositionFiles(in_, 4, 100000);
  const fs::path staged = temp_ / "staged";
  const fs::path sequential = temp_ / "sequential";
  const MeasuredRun run = RunMeasured(
      Arguments(staged, {"--staged", "--memory-ceiling-mib", std::to_string(kCeilingMib)}));
  ASSERT_EQ(run.exit_code, 0);
  ASSERT_EQ(testing::Convert(in_, sequential, {"--sequential"}).exit_code, 0);
  EXPECT_TRUE(testing::ShardContents(staged) == testing::ShardContents(sequential));
  EXPECT_EQ(testing::SummaryValues(staged / "run-summary.txt")["memory_ceiling_mib"],
            std::to_string(kCeilingMib));

  // Full-size blocks hold 4 MiB of records each; this shard's are smaller.
  std::uint64_t largest = 0;
  fs::path largest_shard;
  for (const fs::directory_entry& entry : fs::directory_iterator(staged)) {
    if (entry.path().filename().string().starts_with("shard-") && entry.file_size() > largest) {
      largest = entry.file_size();
      largest_shard = entry.path();
    }
  }
  ASSERT_FALSE(largest_shard.empty());
  const std::uint64_t records_bytes = testing::ReadZstdFile(largest_shard).size();
  const std::uint64_t full_size_frames = (records_bytes + (4 << 20) - 1) >> 22;
  EXPECT_GT(FrameCount(testing::ReadFile(largest_shard)), full_size_frames);

  if (kSanitizedBuild) GTEST_SKIP() << "peak memory is the sanitizer's here";
  EXPECT_LT(run.peak_rss_kib, (kCeilingMib + kAllowanceMib) * 1024);
}

}  // namespace
}  // namespace boardmill
