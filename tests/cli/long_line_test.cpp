// Input lines far longer than any position, in every mode: each is one invalid position with a
// message of its own, the lines after it convert with their own line numbers, the reject log
// keeps only the start of it, and the run stays within its memory ceiling however long it is.
#include <gtest/gtest.h>
#include <zstd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"
#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kFirst[] = "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1";
constexpr char kLast[] = "4k3/8/8/8/8/8/8/4K3 b - - 7 40";
constexpr std::uint64_t kMiB = 1024 * 1024;
// Under the sanitizers a process's resident size is mostly the sanitizer's own.
constexpr bool kMeasuresMemory = !kAddressSanitizerBuild && !kThreadSanitizerBuild;

// A valid position followed by junk and no line feed for `length` bytes: a reader that parsed
// only the start of the line would take it for a position.
std::string LongLine(std::uint64_t length) {
  std::string line = kFirst;
  line += ' ';
  line.resize(length, 'j');
  return line;
}

class LongLineTest : public ::testing::TestWithParam<std::string> {
 protected:
  TempDir temp_;
};

TEST_P(LongLineTest, IsRejectedWithItsOwnMessageAndTheLinesAfterItConvert) {
  const std::string long_line = LongLine(200'000);
  WriteZstdFile(temp_ / "in" / "long.fen.zst",
                std::string(kFirst) + "\n" + long_line + "\r\nnot a position\n" + kLast + "\n");
  WriteZstdFile(temp_ / "short" / "long.fen.zst", std::string(kFirst) + "\n" + kLast + "\n");
  const ProgramRun run = Convert(temp_ / "in", temp_ / "out", {GetParam(), "--shards", "4"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const ProgramRun reference =
      Convert(temp_ / "short", temp_ / "reference", {GetParam(), "--shards", "4"});
  ASSERT_EQ(reference.exit_code, 0) << reference.err;
  EXPECT_EQ(ShardContents(temp_ / "out"), ShardContents(temp_ / "reference"));

  std::map<std::string, std::string> summary = SummaryValues(temp_ / "out" / "run-summary.txt");
  EXPECT_EQ(summary["visited_lines"], "4");
  EXPECT_EQ(summary["encoded_positions"], "2");
  EXPECT_EQ(summary["invalid_positions"], "2");

  // The sequential mode only counts invalid lines.
  if (GetParam() == "--sequential") return;
  const std::vector<std::string> rows = ReadLines(temp_ / "out" / "rejects.tsv");
  ASSERT_EQ(rows.size(), 3U);
  const std::string input = (temp_ / "in" / "long.fen.zst").string();
  EXPECT_EQ(rows[1], input + "\t2\tLine exceeds 65536 bytes.\t" + long_line.substr(0, 1024));
  EXPECT_TRUE(rows[2].starts_with(input + "\t3\t")) << rows[2];
  EXPECT_TRUE(rows[2].ends_with("\tnot a position")) << rows[2];
}

// Writes LongLine(`length`) and then kLast as one frame, a mebibyte at a time: a child keeps
// the peak resident size its parent had when it was started, so the test must not hold the line.
void WriteLongLineFile(const fs::path& path, std::uint64_t length) {
  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
  std::ofstream out(path, std::ios::binary);
  std::string compressed(ZSTD_CStreamOutSize(), '\0');
  const auto feed = [&](std::string_view text, ZSTD_EndDirective directive) {
    ZSTD_inBuffer in{text.data(), text.size(), 0};
    for (bool done = false; !done;) {
      ZSTD_outBuffer buffer{compressed.data(), compressed.size(), 0};
      const std::size_t left = ZSTD_compressStream2(context.get(), &buffer, &in, directive);
      ASSERT_FALSE(ZSTD_isError(left)) << ZSTD_getErrorName(left);
      out.write(compressed.data(), static_cast<std::streamsize>(buffer.pos));
      done = directive == ZSTD_e_end ? left == 0 : in.pos == in.size;
    }
  };
  feed(LongLine(kMiB), ZSTD_e_continue);
  const std::string junk(kMiB, 'j');
  for (std::uint64_t written = kMiB; written < length; written += kMiB) {
    feed(junk, ZSTD_e_continue);
  }
  std::string last = "\n";
  last.append(kLast).append("\n");
  feed(last, ZSTD_e_end);
  ASSERT_TRUE(out.flush());
}

// Before the limit, a line was gathered whole, and copied, in memory: several times its length.
TEST_P(LongLineTest, KeepsTheMemoryCeiling) {
  if (!kMeasuresMemory) GTEST_SKIP() << "resident size under a sanitizer is the sanitizer's";
  fs::create_directories(temp_ / "in");
  WriteLongLineFile(temp_ / "in" / "long.fen.zst", 128 * kMiB);
  const std::uint64_t ceiling_mib = GetParam() == "--staged" ? 256 : 64;
  Child child(temp_ / "in", temp_ / "out",
              {GetParam(), "--shards", "4", "--memory-ceiling-mib", std::to_string(ceiling_mib)});
  child.WaitWhileRunning([] { return false; });
  ASSERT_TRUE(child.ExitedWith(0));
  EXPECT_LE(child.PeakRssKib(), (ceiling_mib + 64) * 1024);
  EXPECT_EQ(SummaryValues(temp_ / "out" / "run-summary.txt")["encoded_positions"], "1");
}

INSTANTIATE_TEST_SUITE_P(EveryMode, LongLineTest,
                         ::testing::Values("--sequential", "--parallel", "--staged"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(2);
                         });

}  // namespace
}  // namespace boardmill::testing
