// The status line of convert, sample-fens and verify-shards as a person or a log sees it: on a
// pseudo-terminal it is drawn, redrawn and erased before the report or the error; without one,
// or with --no-progress, nothing appears; --progress logs a line every 10 seconds.
//
// A run is held until the test has seen what it waits for: a writing run where it first writes
// a file that the test made a stopped terminal, a reading run where it opens a file that the
// test made a named pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "conversion_run_support.h"
#include "terminal_screen.h"
#include "test_support.h"
#include "watched_run.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using StandardError = WatchedRun::StandardError;

// Where a run waits until the test lets it go on.
class Hold {
 public:
  virtual ~Hold() = default;
  virtual void Release() = 0;
};

// A pseudo-terminal whose path a run is given for a file it writes early (a reject log, a
// manifest). Its output is suspended from the start, as by XOFF, so the run's first write there
// blocks until Release resumes it; output files are created afresh, so a planted pipe would be
// replaced rather than waited on, while a terminal is written in place. What the run writes is
// read off the master as it comes, so the terminal never fills.
class HeldTerminal : public Hold {
 public:
  HeldTerminal() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master_, 0);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
    path_ = ptsname(master_);
    // Kept open so that the master reads until the test lets go, not until the run closes it.
    terminal_ = open(path_.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(terminal_, 0) << path_;
    if (terminal_ < 0) return;
    EXPECT_EQ(tcflow(terminal_, TCOOFF), 0) << path_;
    drain_ = std::thread([this] { Drain(); });
  }
  ~HeldTerminal() override {
    if (terminal_ >= 0) close(terminal_);
    if (drain_.joinable()) drain_.join();
    if (master_ >= 0) close(master_);
  }
  HeldTerminal(const HeldTerminal&) = delete;
  HeldTerminal& operator=(const HeldTerminal&) = delete;

  const std::string& path() const { return path_; }
  // Resumes the output, as XON would, and the blocked write with it.
  void Release() override { ASSERT_EQ(tcflow(terminal_, TCOON), 0) << path_; }

 private:
  // Reads until no one holds the terminal open any more.
  void Drain() const {
    std::array<char, 4096> buffer{};
    while (read(master_, buffer.data(), buffer.size()) > 0) {
    }
  }

  int master_ = -1;
  int terminal_ = -1;
  std::string path_;
  std::thread drain_;
};

// A named pipe where the run will open a file, and the test's end of it.
class HeldFile : public Hold {
 public:
  // `run_writes`: the run opens the file to write it (a shard, a log, a sample), else to read it.
  HeldFile(const fs::path& path, bool run_writes) : path_(path), run_writes_(run_writes) {
    fs::create_directories(path.parent_path());
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << path;
  }
  ~HeldFile() override {
    if (descriptor_ >= 0) close(descriptor_);
  }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // Opens the other end without waiting, so that a run that never opens the file holds nothing
  // up. A writing run's data waits in the pipe until the object goes away; a reading run sees an
  // empty file, once it is there to be seen.
  void Release() override {
    if (run_writes_) {
      descriptor_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
      ASSERT_GE(descriptor_, 0) << path_;
      return;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::minutes(2);
    int writer = -1;
    while ((writer = open(path_.c_str(), O_WRONLY | O_NONBLOCK)) < 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(writer, 0) << path_ << ": the run never opened it";
    close(writer);
  }

 private:
  fs::path path_;
  bool run_writes_;
  int descriptor_ = -1;
};

std::size_t LineFeeds(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

class ProgressTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeInputs(input_, 2, 20); }

  std::vector<std::string> SequentialConvert(const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {"convert",      input_.string(), output_.string(),
                                          "--sequential", "--shards",      "2"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }
  // Held where it writes the header of its reject log, which it does while it prepares.
  std::vector<std::string> HeldParallelConvert(const HeldTerminal& held,
                                               const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {"convert",
                                          input_.string(),
                                          output_.string(),
                                          "--parallel",
                                          "--shards",
                                          "2",
                                          "--min-free-space-gib",
                                          "0",
                                          "--reject-log",
                                          held.path()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }
  fs::path FirstShard() const { return output_ / "shard-000.psfen.zst"; }

  TempDir temp_;
  fs::path input_ = temp_ / "input";
  fs::path output_ = temp_ / "output";
};

struct TerminalCase {
  const char* name;
  const char* status;        // what a redrawn frame starts with while the run is held
  const char* first_report;  // the first line of the report
};

void PrintTo(const TerminalCase& c, std::ostream* out) { *out << c.name; }

class TerminalStatusTest : public ProgressTest, public ::testing::WithParamInterface<TerminalCase> {
 protected:
  // The command of the case, and where it is held.
  std::vector<std::string> PrepareHeldRun(std::unique_ptr<Hold>& held) {
    const std::string name = GetParam().name;
    if (name == "convert") {
      auto terminal = std::make_unique<HeldTerminal>();
      std::vector<std::string> arguments = HeldParallelConvert(*terminal, {});
      held = std::move(terminal);
      return arguments;
    }
    if (name == "sample-fens") {
      // Held at the header of the manifest, written before any file is sampled.
      auto terminal = std::make_unique<HeldTerminal>();
      std::vector<std::string> arguments = {
          "sample-fens", input_.string(), output_.string(), "--max-lines-per-file",
          "5",           "--manifest",    terminal->path()};
      held = std::move(terminal);
      return arguments;
    }
    // Readers refuse a pipe, so the second shard holds the run by its length instead: one of its
    // records 2,097,152 times, verified for most of a second in a release build, long enough
    // for two frames. Without the index, which would no longer match it.
    EXPECT_EQ(RunBoardmill(SequentialConvert({})).exit_code, 0);
    fs::remove(output_ / "shard-index.json");
    const fs::path second = output_ / "shard-001.psfen.zst";
    const std::string record = ReadZstdFile(second).substr(0, 32);
    EXPECT_EQ(record.size(), 32U);
    std::string records;
    records.reserve(record.size() << 21);
    for (int i = 0; i < (1 << 21); ++i) records += record;
    WriteZstdFile(second, records, 1);
    return {"verify-shards", output_.string(), "--shards", "2"};
  }
};

TEST_P(TerminalStatusTest, LineIsRedrawnWhileTheRunGoesAndGoneBeforeTheReport) {
  std::unique_ptr<Hold> held;
  const std::vector<std::string> arguments = PrepareHeldRun(held);
  WatchedRun run(StandardError::kTerminal, arguments);
  ASSERT_TRUE(run.started());
  const std::string frame = std::string("\r") + GetParam().status;
  ASSERT_TRUE(run.WaitFor(frame, 2)) << run.output();
  if (held) held->Release();
  ASSERT_EQ(run.Finish(), 0) << run.output();

  // Only the report is left on the screen: its first line where the status line was, and as
  // many lines as the report printed.
  const std::vector<std::string> screen = ScreenLines(run.output());
  ASSERT_FALSE(screen.empty()) << run.output();
  EXPECT_EQ(screen.front(), GetParam().first_report) << run.output();
  EXPECT_EQ(screen.size(), LineFeeds(run.output())) << run.output();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, TerminalStatusTest,
    ::testing::Values(
        TerminalCase{"convert", "converting  files 0/0  input 0 B/", "Execution mode: parallel"},
        TerminalCase{"sample-fens", "sampling  files 0/2  lines 0  ", "Input files: 2"},
        TerminalCase{"verify-shards", "verifying  shards 1/2  read ", "Verified shard files: 2"}));

TEST_F(ProgressTest, ErrorEndsTheRunOnALineOfItsOwnAfterTheStatusLine) {
  // The second input cannot be decompressed; the run fails once it gets past its held reject log.
  WriteFile(input_ / "input-101.fen.zst", "not zstd at all\n");
  const ProgramRun unwatched = RunBoardmill(
      {"convert", input_.string(), (temp_ / "unwatched").string(), "--parallel", "--shards", "2",
       "--min-free-space-gib", "0", "--reject-log", (temp_ / "unwatched-rejects.tsv").string()});
  ASSERT_EQ(unwatched.exit_code, 1);
  ASSERT_EQ(LineFeeds(unwatched.err), 1U) << unwatched.err;

  HeldTerminal held;
  WatchedRun run(StandardError::kTerminal, HeldParallelConvert(held, {}));
  ASSERT_TRUE(run.WaitFor("\rconverting  files 0/0")) << run.output();
  held.Release();
  EXPECT_EQ(run.Finish(), 1);
  EXPECT_EQ(ScreenLines(run.output()),
            std::vector<std::string>{unwatched.err.substr(0, unwatched.err.size() - 1)})
      << run.output();
}

struct SilentCase {
  const char* name;
  StandardError standard_error;
  std::vector<std::string> options;
};

void PrintTo(const SilentCase& c, std::ostream* out) { *out << c.name; }

class SilentRunTest : public ProgressTest, public ::testing::WithParamInterface<SilentCase> {};

// Held long enough for a line that should not be there to be drawn several times over: the
// sequential mode where it opens its first shard, the others where they open the reject log.
TEST_P(SilentRunTest, ShowsNothingButTheReport) {
  const fs::path reject_log = temp_ / "rejects.tsv";
  const bool sequential = GetParam().options.front() == "--sequential";
  HeldFile held(sequential ? FirstShard() : reject_log, true);
  std::vector<std::string> arguments = {
      "convert", input_.string(), output_.string(),   "--shards", "2", "--min-free-space-gib",
      "0",       "--reject-log",  reject_log.string()};
  arguments.insert(arguments.end(), GetParam().options.begin(), GetParam().options.end());
  WatchedRun run(GetParam().standard_error, arguments);
  ASSERT_TRUE(run.started());
  std::this_thread::sleep_for(std::chrono::seconds(1));
  held.Release();
  ASSERT_EQ(run.Finish(), 0) << run.output();
  if (GetParam().standard_error == StandardError::kPipe) {
    EXPECT_EQ(run.output(), "");
  } else {
    EXPECT_EQ(run.output().find("converting"), std::string::npos) << run.output();
    const std::vector<std::string> screen = ScreenLines(run.output());
    ASSERT_FALSE(screen.empty());
    EXPECT_EQ(screen.front(), "Execution mode: sequential");
  }
}

INSTANTIATE_TEST_SUITE_P(
    WhereNoLineIsWanted, SilentRunTest,
    ::testing::Values(SilentCase{"pipe_sequential", StandardError::kPipe, {"--sequential"}},
                      SilentCase{"pipe_parallel", StandardError::kPipe, {"--parallel"}},
                      SilentCase{"pipe_staged", StandardError::kPipe, {"--staged"}},
                      SilentCase{"terminal_no_progress",
                                 StandardError::kTerminal,
                                 {"--sequential", "--no-progress"}}));

TEST_F(ProgressTest, ProgressOptionLogsAPlainLineEveryTenSecondsWithoutATerminal) {
  HeldTerminal held;
  const Clock::time_point start = Clock::now();
  WatchedRun run(StandardError::kPipe, HeldParallelConvert(held, {"--progress"}));
  ASSERT_TRUE(run.WaitFor("\n")) << run.output();
  const double first_line_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  held.Release();
  ASSERT_EQ(run.Finish(), 0) << run.output();

  // Not drawn at a terminal's pace: the first line waits for its ten seconds.
  EXPECT_GE(first_line_seconds, 9.5);
  EXPECT_EQ(run.output().find('\r'), std::string::npos) << run.output();
  const std::vector<std::string> lines = Split(run.output(), '\n');
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines.back(), "") << "the last line is not ended";
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_TRUE(lines[i].starts_with("converting  files 0/0  input 0 B/")) << lines[i];
  }
}

}  // namespace
}  // namespace boardmill::testing
