#include "pipeline/reject_logger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

constexpr char kHeader[] = "input_path\tline_number\terror\tfen\n";

TEST(RejectLoggerTest, LogWithoutRejectsHoldsOnlyTheHeader) {
  TempDir dir;
  RejectLogger logger(dir / "rejects.tsv");
  const util::Result<std::uint64_t> opened = logger.Open();
  ASSERT_TRUE(opened.ok()) << opened.error();
  EXPECT_EQ(*opened, 0u);
  const util::Result<std::uint64_t> closed = logger.Close();
  ASSERT_TRUE(closed.ok()) << closed.error();
  EXPECT_EQ(*closed, 0u);
  EXPECT_EQ(logger.EntryCount(), 0u);
  EXPECT_EQ(ReadFile(dir / "rejects.tsv"), kHeader);
}

TEST(RejectLoggerTest, RowsKeepFourColumnsWhateverTheTextHolds) {
  TempDir dir;
  RejectLogger logger(dir / "rejects.tsv");
  ASSERT_TRUE(logger.Open().ok());

  const util::Result<std::uint64_t> first =
      logger.Append(dir / "in\tput.fen.zst", 7, "Bad board.", "8/8/8/8/8/8/8/8\tw - - 0 1");
  ASSERT_TRUE(first.ok()) << first.error();
  EXPECT_EQ(*first, 1u);
  const util::Result<std::uint64_t> second =
      logger.Append("b.fen.zst", 18446744073709551615u, "two\r\nlines", "");
  ASSERT_TRUE(second.ok()) << second.error();
  EXPECT_EQ(*second, 2u);
  ASSERT_TRUE(logger.Close().ok());

  const std::string expected = std::string(kHeader) + (dir / "in put.fen.zst").string() +
                               "\t7\tBad board.\t8/8/8/8/8/8/8/8 w - - 0 1\n" +
                               "b.fen.zst\t18446744073709551615\ttwo  lines\t\n";
  EXPECT_EQ(ReadFile(dir / "rejects.tsv"), expected);
  for (const std::string& line : ReadLines(dir / "rejects.tsv")) {
    EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 3) << line;
  }
  EXPECT_EQ(logger.EntryCount(), 2u);
}

TEST(RejectLoggerTest, CreatesAMissingDirectoryChain) {
  TempDir dir;
  const fs::path path = dir / "a/b/c/rejects.tsv";
  RejectLogger logger(path);
  const util::Result<std::uint64_t> opened = logger.Open();
  ASSERT_TRUE(opened.ok()) << opened.error();
  ASSERT_TRUE(logger.Close().ok());
  EXPECT_EQ(ReadFile(path), kHeader);
}

TEST(RejectLoggerTest, FollowsItsOpenAndCloseLifecycle) {
  TempDir dir;
  const fs::path path = dir / "rejects.tsv";
  RejectLogger logger(path);

  // Nothing works before Open, and closing a never-opened logger writes nothing.
  const util::Result<std::uint64_t> early = logger.Append("x", 1, "e", "t");
  ASSERT_FALSE(early.ok());
  EXPECT_EQ(early.error(), "Reject log is not open.");
  const util::Result<std::uint64_t> never_opened = logger.Close();
  ASSERT_TRUE(never_opened.ok());
  EXPECT_EQ(*never_opened, 0u);
  EXPECT_FALSE(fs::exists(path));

  // A second Open on an open logger neither truncates nor resets the count.
  ASSERT_TRUE(logger.Open().ok());
  ASSERT_TRUE(logger.Append("x", 1, "e", "t").ok());
  const util::Result<std::uint64_t> reopened = logger.Open();
  ASSERT_TRUE(reopened.ok());
  EXPECT_EQ(*reopened, 1u);
  const util::Result<std::uint64_t> closed = logger.Close();
  ASSERT_TRUE(closed.ok());
  EXPECT_EQ(*closed, 1u);
  EXPECT_EQ(logger.EntryCount(), 1u);
  EXPECT_EQ(ReadFile(path), std::string(kHeader) + "x\t1\te\tt\n");

  // After Close, appends are refused again; a new Open truncates and counts from 0.
  EXPECT_FALSE(logger.Append("x", 2, "e", "t").ok());
  EXPECT_EQ(logger.EntryCount(), 1u);
  const util::Result<std::uint64_t> fresh = logger.Open();
  ASSERT_TRUE(fresh.ok());
  EXPECT_EQ(*fresh, 0u);
  ASSERT_TRUE(logger.Close().ok());
  EXPECT_EQ(ReadFile(path), kHeader);
}

TEST(RejectLoggerTest, ReportsFileSystemFailures) {
  TempDir dir;
  testing::WriteFile(dir / "plain-file", "");

  RejectLogger under_a_file(dir / "plain-file/sub/rejects.tsv");
  const util::Result<std::uint64_t> no_directory = under_a_file.Open();
  ASSERT_FALSE(no_directory.ok());
  EXPECT_EQ(no_directory.error().rfind("Failed to create reject-log directory: ", 0), 0u)
      << no_directory.error();
  EXPECT_FALSE(under_a_file.Append("x", 1, "e", "t").ok());

  RejectLogger on_a_directory(dir.path());
  const util::Result<std::uint64_t> not_a_file = on_a_directory.Open();
  ASSERT_FALSE(not_a_file.ok());
  EXPECT_EQ(not_a_file.error(), "Failed to open reject log: " + dir.path().string());
}

TEST(RejectLoggerTest, FailedFlushKeepsTheLogOpenAndLaterRowsFail) {
  // Writes to /dev/full are accepted into the buffer and fail when they reach the device.
  RejectLogger logger("/dev/full");
  ASSERT_TRUE(logger.Open().ok());
  ASSERT_TRUE(logger.Append("x", 1, "e", "t").ok());

  const util::Result<std::uint64_t> closed = logger.Close();
  ASSERT_FALSE(closed.ok());
  EXPECT_EQ(closed.error(), "Failed to flush reject log: /dev/full");

  const util::Result<std::uint64_t> after = logger.Append("x", 2, "e", "t");
  ASSERT_FALSE(after.ok()) << "the logger must still be open, with a failed stream";
  EXPECT_EQ(after.error(), "Failed to write reject log entry: /dev/full");
  EXPECT_EQ(logger.EntryCount(), 1u);
}

TEST(RejectLoggerTest, ConcurrentAppendsWriteWholeRowsAndCountEachOne) {
  constexpr int kThreads = 4;
  constexpr int kRowsPerThread = 500;
  TempDir dir;
  RejectLogger logger(dir / "rejects.tsv");
  ASSERT_TRUE(logger.Open().ok());

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&logger, t] {
      const std::string input = "file-" + std::to_string(t) + ".fen.zst";
      for (int i = 0; i < kRowsPerThread; ++i) {
        EXPECT_TRUE(logger.Append(input, i, "Invalid\tline.", "some text of a rejected line").ok());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const util::Result<std::uint64_t> closed = logger.Close();
  ASSERT_TRUE(closed.ok());
  EXPECT_EQ(*closed, static_cast<std::uint64_t>(kThreads * kRowsPerThread));

  const std::vector<std::string> lines = ReadLines(dir / "rejects.tsv");
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kRowsPerThread + 1));
  std::set<std::string> seen;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::string::size_type first_tab = line.find('\t');
    const std::string key = line.substr(0, line.find('\t', first_tab + 1));
    EXPECT_EQ(line, key + "\tInvalid line.\tsome text of a rejected line");
    EXPECT_TRUE(seen.insert(key).second) << "duplicate row " << key;
  }
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kRowsPerThread));
}

}  // namespace
}  // namespace boardmill::pipeline
