// Conversions that run out of space. On a small tmpfs (mounted by the test, so only as root)
// every mode fails with one clear line, exit code 1 and no run summary, and a parallel run
// resumes to the uninterrupted result once there is room again. /dev/full, which refuses every
// write with ENOSPC, reaches the report files without root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "small_disk.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<ModeCase> kModes = EveryModeWithShards("64");

bool IsParallel(const ModeCase& mode) { return mode.name == "parallel"; }

// A failed run reports exactly one line on standard error and nothing on standard output, and
// leaves no run summary, torn or whole.
void ExpectFailedRun(const ProgramRun& run, const fs::path& output) {
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_TRUE(run.err.ends_with("\n")) << run.err;
  EXPECT_FALSE(fs::exists(output / "run-summary.txt"));
  EXPECT_FALSE(fs::exists(output / "run-summary.txt.partial"));
}

// A parallel run that failed before its end has no finish record in its manifest.
void ExpectUnfinishedManifest(const fs::path& output, const ModeCase& mode) {
  if (IsParallel(mode)) {
    EXPECT_FALSE(ReadManifest(output / "run-manifest.tsv").last_run_finished);
  }
}

std::vector<std::string> With(std::vector<std::string> options,
                              const std::vector<std::string>& more) {
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

// A tmpfs of 2 MiB mounted for the test, nearly filled by a filler file so that a conversion of
// a few hundred kilobytes runs out of space; unmounted again after the test.
class SmallDiskTest : public ::testing::Test {
 protected:
  static constexpr std::uint64_t kFreeBytes = 160 * 1024;

  void SetUp() override {
    if (const std::string reason = disk_.Mount(); !reason.empty()) GTEST_SKIP() << reason;
    disk_.LeaveFree(kFreeBytes);
    MakeInputs(input(), 20, 1000);
    const ProgramRun whole = Convert(input(), temp_ / "whole", kModes[0].options);
    ASSERT_EQ(whole.exit_code, 0) << whole.err;
    expected_ = ShardContents(temp_ / "whole");
  }

  const fs::path& disk() const { return disk_.path(); }
  fs::path input() const { return temp_ / "in"; }

  // Fills the disk with a parallel run, makes room and resumes (twice, so that whatever the
  // full disk did to the manifest also holds up for a later resume).
  void ExpectParallelRunResumesOnceThereIsRoom(const fs::path& output,
                                               const std::vector<std::string>& options) {
    const ModeCase mode = kModes[1];
    const ProgramRun full = Convert(input(), output, With(mode.options, options));
    ExpectFailedRun(full, output);
    ExpectUnfinishedManifest(output, mode);
    std::cout << "[ FULL     ] parallel: " << full.err;

    disk_.Grow();
    for (int resume = 0; resume < 2; ++resume) {
      const ProgramRun resumed = Convert(
          input(), output, With(mode.options, With(options, {"--resume", "--keep-scratch"})));
      ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
      EXPECT_EQ(ShardContents(output), expected_);
      EXPECT_TRUE(ReadManifest(output / "run-manifest.tsv").last_run_finished);
    }
  }

  TempDir temp_;
  SmallDisk disk_{temp_ / "disk"};
  std::map<std::string, std::string> expected_;
};

TEST_F(SmallDiskTest, EveryModeFailsWithOneLineNamingTheFileAndLeavesNoSummary) {
  for (const ModeCase& mode : kModes) {
    SCOPED_TRACE(mode.name);
    const fs::path output = disk() / mode.name;
    const ProgramRun run = Convert(input(), output, mode.options);
    ExpectFailedRun(run, output);
    ExpectUnfinishedManifest(output, mode);
    EXPECT_TRUE(run.err.starts_with("Failed ")) << run.err;
    EXPECT_NE(run.err.find(disk().string()), std::string::npos) << run.err;
    std::cout << "[ FULL     ] " << mode.name << ": " << run.err;
    fs::remove_all(output);
  }
}

TEST_F(SmallDiskTest, ParallelRunThatFillsItsScratchDirectoryResumes) {
  ExpectParallelRunResumesOnceThereIsRoom(disk() / "out", {});
}

TEST_F(SmallDiskTest, ParallelRunThatFillsTheDiskWhileMergingResumes) {
  // The fragments fit on the large disk; only the final shards go to the small one.
  ExpectParallelRunResumesOnceThereIsRoom(disk() / "out",
                                          {"--scratch-dir", (temp_ / "scratch").string()});
}

// /dev/full stands in for a report file on a full disk.
class DeviceFullTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "/dev/full is not available";
    MakeInputs(temp_ / "in", 3, 100);
  }

  TempDir temp_;
};

// The summary goes to a side file first; that file on a full disk fails the run and leaves no
// summary, torn or whole. (A parallel run has written its manifest's finish record by then: its
// shards are complete, and a resume writes the summary.)
TEST_F(DeviceFullTest, ASummaryThatCannotBeWrittenFailsTheRunInEveryMode) {
  for (const ModeCase& mode : kModes) {
    SCOPED_TRACE(mode.name);
    const fs::path output = temp_ / mode.name;
    fs::create_directories(output);
    // A device node of its own: a link to /dev/full would be replaced, never written through.
    const fs::path side_file = output / "run-summary.txt.partial";
    if (::mknod(side_file.c_str(), S_IFCHR | 0666, ::makedev(1, 7)) != 0) {
      GTEST_SKIP() << "cannot create a full device node (needs root)";
    }
    const ProgramRun run = Convert(temp_ / "in", output, mode.options);
    EXPECT_EQ(run.err,
              "Failed to write run summary: " + (output / "run-summary.txt").string() + "\n");
    ExpectFailedRun(run, output);
  }
}

TEST_F(DeviceFullTest, AManifestOrRejectLogThatCannotBeWrittenFailsTheRun) {
  const ModeCase& parallel = kModes[1];
  const ModeCase& staged = kModes[2];
  const struct {
    const ModeCase& mode;
    std::vector<std::string> options;
    std::string err;
  } cases[] = {
      {parallel, {"--manifest", "/dev/full"}, "Failed to write manifest header: /dev/full\n"},
      {parallel, {"--reject-log", "/dev/full"}, "Failed to flush reject log: /dev/full\n"},
      {staged, {"--reject-log", "/dev/full"}, "Failed to flush reject log: /dev/full\n"},
  };
  int index = 0;
  for (const auto& [mode, options, err] : cases) {
    SCOPED_TRACE(mode.name + " " + options[0]);
    const fs::path output = temp_ / ("out-" + std::to_string(index++));
    const ProgramRun run = Convert(temp_ / "in", output, With(mode.options, options));
    EXPECT_EQ(run.err, err);
    ExpectFailedRun(run, output);
    if (options[0] != "--manifest") ExpectUnfinishedManifest(output, mode);
  }
}

}  // namespace
}  // namespace boardmill::testing
