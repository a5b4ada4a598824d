// Commands that meet in one place. A command aimed at an output directory, scratch directory,
// manifest or reject log that a running command writes is refused with one line and changes
// nothing, while the running one finishes as if alone; verify-shards is refused alike while a
// run writes the shards; and the lock of a run killed with SIGKILL goes with it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "child_process.h"
#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kShards[] = "2";
constexpr char kLockFile[] = "boardmill.lock";

// A command that writes, with the options of its mode.
struct Command {
  std::string name;
  std::vector<std::string> options;

  std::vector<std::string> Arguments(const fs::path& input, const fs::path& output,
                                     const std::vector<std::string>& extra = {}) const {
    std::vector<std::string> arguments = options;
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    if (IsConversion()) return ConvertArguments(input, output, arguments);
    arguments.insert(arguments.begin(), {"sample-fens", input.string(), output.string()});
    return arguments;
  }
  bool IsConversion() const { return name != "sample_fens"; }
};

void PrintTo(const Command& command, std::ostream* out) { *out << command.name; }

const Command kSequential{"sequential", {"--sequential", "--shards", kShards}};
const Command kParallel{"parallel", {"--parallel", "--max-threads", "2", "--shards", kShards}};
const Command kStaged{"staged", {"--staged", "--max-threads", "2", "--shards", kShards}};
const Command kSampleFens{"sample_fens", {"--max-lines-per-file", "2000"}};

// Makes a run last long enough to be caught at work, on little input, and costs little more
// under the sanitizers, which do not instrument the compression library.
const std::vector<std::string> kSlowCompression = {"--compression-level", "19"};

// What a command produced, decompressed: the shards of a conversion or the files of a sample.
std::map<std::string, std::string> Products(const fs::path& directory) {
  std::map<std::string, std::string> products;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(".psfen.zst") && !name.ends_with(".fen.zst")) continue;
    products[name] = entry.file_size() == 0 ? "" : ReadZstdFile(entry.path());
  }
  return products;
}

// Every directory and file below `root`, files by size and a hash of their bytes (a failure
// then names what changed without printing whole shards); nothing when there is no root.
std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> entries;
  if (!fs::exists(root)) return entries;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    std::string& described = entries[fs::relative(entry.path(), root).string()];
    if (entry.is_directory()) {
      described = "directory";
      continue;
    }
    const std::string bytes = ReadFile(entry.path());
    described = std::to_string(bytes.size()) + " bytes, hash " +
                std::to_string(std::hash<std::string>{}(bytes));
  }
  return entries;
}

// True when some other open file holds a lock on `lock_file`. Probes with a shared lock that it
// drops at once, so call it only while the process that may take the lock is stopped.
bool LockedElsewhere(const fs::path& lock_file) {
  const int descriptor = open(lock_file.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool locked = flock(descriptor, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(descriptor);
  return locked;
}

// Stops `child` at a moment it holds `lock_file`, pausing it again and again until a pause
// finds the lock taken; false when the run ended first.
bool PauseHoldingLock(Child& child, const fs::path& lock_file) {
  while (child.Pause()) {
    if (LockedElsewhere(lock_file)) return true;
    child.Resume();
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

// Stops `child` well into its run: `delay` after it is first seen holding `lock_file`, checking
// that it holds it still. False when the run ended or let go of the lock before.
bool PauseUnderway(Child& child, const fs::path& lock_file, std::chrono::nanoseconds delay) {
  if (!PauseHoldingLock(child, lock_file)) return false;
  child.Resume();
  std::this_thread::sleep_for(delay);
  return child.Pause() && LockedElsewhere(lock_file);
}

// A lock taken by the test itself, where a run in progress would hold it.
class HeldLock {
 public:
  explicit HeldLock(const fs::path& lock_file)
      : descriptor_(open(lock_file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644)) {
    held_ = descriptor_ >= 0 && flock(descriptor_, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldLock() {
    if (descriptor_ >= 0) close(descriptor_);
  }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

  bool held() const { return held_; }

 private:
  int descriptor_;
  bool held_ = false;
};

std::string InUse(const std::string& role, const fs::path& path) {
  return "Another run is using the " + role + ": " + path.string() + "\n";
}

// --- A real run in progress ------------------------------------------------------------------

class RunInProgressTest : public ::testing::TestWithParam<Command> {
 protected:
  void SetUp() override {
    MakeInputs(input_, 2, 4000);
    // Other files, some of the same names: a second run that went ahead would show.
    MakeInputs(other_input_, 6, 100);
  }

  TempDir temp_;
  const fs::path input_ = temp_ / "in";
  const fs::path other_input_ = temp_ / "other-in";
  const fs::path output_ = temp_ / "out";
};

TEST_P(RunInProgressTest, ASecondRunAndVerificationAreRefusedWhileTheFirstFinishesAsIfAlone) {
  const Command& command = GetParam();
  const fs::path undisturbed = temp_ / "undisturbed";
  const auto started = std::chrono::steady_clock::now();
  const ProgramRun alone = RunBoardmill(command.Arguments(input_, undisturbed, kSlowCompression));
  const auto alone_took = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(alone.exit_code, 0) << alone.err;

  // A quarter of the way in, the run is past its setup and converting; a lock let go of once
  // the setup is done would show here.
  Child first(command.Arguments(input_, output_, kSlowCompression));
  ASSERT_TRUE(PauseUnderway(first, output_ / kLockFile, alone_took / 4))
      << "the run ended, or let go of its lock, before a quarter of the time an undisturbed run "
         "took";
  const std::map<std::string, std::string> mid_run = Snapshot(output_);
  ExpectRun(RunBoardmill(command.Arguments(other_input_, output_, kSlowCompression)), 1, "",
            InUse("output directory", output_));
  if (command.IsConversion()) {
    ExpectRun(RunBoardmill({"verify-shards", output_.string(), "--shards", kShards}), 1, "",
              "Another run is writing the shard directory: " + output_.string() + "\n");
  }
  EXPECT_EQ(Snapshot(output_), mid_run);

  first.Resume();
  first.Wait();
  EXPECT_TRUE(first.ExitedWith(0));
  EXPECT_EQ(Products(output_), Products(undisturbed));
  if (command.IsConversion()) {
    EXPECT_EQ(SummaryValues(output_ / "run-summary.txt").at("encoded_positions"),
              SummaryValues(undisturbed / "run-summary.txt").at("encoded_positions"));
  }
}

// The kernel drops a flock with its last descriptor: a lock that needed removing, as a
// pid file or an O_EXCL marker would, would block every run after a kill.
TEST_P(RunInProgressTest, TheLockOfARunKilledWithSigkillDoesNotBlockTheNextRun) {
  const Command& command = GetParam();
  Child killed(command.Arguments(input_, output_, kSlowCompression));
  ASSERT_TRUE(PauseHoldingLock(killed, output_ / kLockFile))
      << "the run ended without being caught holding its lock";
  killed.SignalAndWait(SIGKILL);
  ASSERT_TRUE(killed.KilledBy(SIGKILL));

  const ProgramRun next = RunBoardmill(command.Arguments(input_, output_));
  EXPECT_EQ(next.exit_code, 0);
  EXPECT_EQ(next.err, "");
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, RunInProgressTest,
                         ::testing::Values(kSequential, kParallel, kStaged, kSampleFens),
                         [](const ::testing::TestParamInfo<Command>& info) {
                           return info.param.name;
                         });

// --- Each place a run locks ------------------------------------------------------------------

// A place a command locks, held by the test after an earlier run of the same command finished.
struct LockedPlace {
  std::string label;
  Command command;
  std::vector<std::string> extra;
  fs::path lock_file;
  std::string refusal;
};

// A file given by `option` and written outside the output directory, locked beside itself.
LockedPlace FileOutside(const std::string& label, const Command& command, const std::string& option,
                        const fs::path& file, const std::string& role) {
  fs::path lock_file = file;
  lock_file += ".lock";
  return {label, command, {option, file.string()}, lock_file, InUse(role, file)};
}

std::vector<LockedPlace> EveryLockedPlace(const fs::path& out, const fs::path& elsewhere) {
  const fs::path scratch = elsewhere / "scratch";
  const fs::path manifest = elsewhere / "manifest.tsv";
  const fs::path rejects = elsewhere / "rejects.tsv";
  const std::string output_refusal = InUse("output directory", out);
  return {
      {"sequential output", kSequential, {}, out / kLockFile, output_refusal},
      {"parallel output", kParallel, {}, out / kLockFile, output_refusal},
      {"staged output", kStaged, {}, out / kLockFile, output_refusal},
      {"parallel scratch",
       kParallel,
       {"--scratch-dir", scratch.string(), "--keep-scratch"},
       scratch / kLockFile,
       InUse("scratch directory", scratch)},
      FileOutside("parallel manifest", kParallel, "--manifest", manifest, "manifest"),
      FileOutside("parallel reject log", kParallel, "--reject-log", rejects, "reject log"),
      FileOutside("staged reject log", kStaged, "--reject-log", rejects, "reject log"),
      FileOutside("sample manifest", kSampleFens, "--manifest", manifest, "sample manifest"),
  };
}

// The refused run leaves the earlier run's output as it was, its run-summary.txt, manifest,
// reject log and kept fragments included: it stops before it removes or rewrites anything.
TEST(LockedPlaceTest, ARunFindingAnyOfItsPlacesInUseIsRefusedAndChangesNothing) {
  TempDir temp;
  MakeInputs(temp / "in", 2, 50);
  const fs::path out = temp / "out";
  const fs::path elsewhere = temp / "elsewhere";
  for (const LockedPlace& place : EveryLockedPlace(out, elsewhere)) {
    SCOPED_TRACE(place.label);
    fs::remove_all(out);
    fs::remove_all(elsewhere);
    fs::create_directories(elsewhere);
    const std::vector<std::string> arguments =
        place.command.Arguments(temp / "in", out, place.extra);
    const ProgramRun earlier = RunBoardmill(arguments);
    ASSERT_EQ(earlier.exit_code, 0) << earlier.err;
    const std::map<std::string, std::string> out_before = Snapshot(out);
    const std::map<std::string, std::string> elsewhere_before = Snapshot(elsewhere);

    const HeldLock lock(place.lock_file);
    ASSERT_TRUE(lock.held());
    ExpectRun(RunBoardmill(arguments), 1, "", place.refusal);
    EXPECT_EQ(Snapshot(out), out_before);
    EXPECT_EQ(Snapshot(elsewhere), elsewhere_before);
  }
}

// A lock file that cannot be opened says why, in one line, rather than passing for a free one.
TEST(LockedPlaceTest, ALockFileThatCannotBeOpenedFailsWithOneLine) {
  TempDir temp;
  MakeInputs(temp / "in", 1, 10);
  const fs::path out = temp / "out";
  fs::create_directories(out);
  fs::create_symlink(kLockFile, out / kLockFile);  // a link to itself: too many levels of links
  const std::string reason = std::error_code(ELOOP, std::generic_category()).message();

  ExpectRun(Convert(temp / "in", out, {"--sequential"}), 1, "",
            "Failed to lock the output directory " + out.string() + ": " + reason + "\n");
  ExpectRun(RunBoardmill({"verify-shards", out.string()}), 1, "",
            "Failed to lock the shard directory " + out.string() + ": " + reason + "\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace boardmill::testing
