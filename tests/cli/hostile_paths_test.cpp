// Whole-program tests of hostile paths and planted files, in every execution mode: a path
// option aimed at an input or at another output, a link or FIFO planted under the name of an
// output, and input entries that are not regular files. Each run either does its work without
// touching anything outside its outputs, or is refused with one line before it writes anything.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

const std::vector<std::string> kModes = {"--sequential", "--parallel", "--staged"};
constexpr char kVictimText[] = "not to be touched\n";

std::string ModeName(const ::testing::TestParamInfo<std::string>& info) {
  return info.param.substr(2);
}

// Runs the program under a time limit, so that a run blocked on a FIFO fails the test (exit
// code 124) instead of stalling the suite.
ProgramRun RunBounded(const std::vector<std::string>& arguments) {
  // Built by appending: GCC 12 at -O3 misreads `"literal" + std::string` as an overlapping copy.
  std::string command = "timeout -k 5 60 ";
  command.append(QuoteForShell(BOARDMILL_BINARY));
  for (const std::string& argument : arguments) command.append(" ").append(QuoteForShell(argument));
  return RunShell(command);
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text.append(line).append("\n");
  return text;
}

class HostilePathsTest : public ConversionDirectoriesTest<::testing::TestWithParam<std::string>> {
 protected:
  void SetUp() override {
    WriteZstdFile(in_ / "a.fen.zst", Lines(kFens) + "not a position\n");
    WriteZstdFile(in_ / "b.fen.zst", Lines({kFens[2], kFens[4]}));
    input_bytes_ = ReadFile(in_ / "a.fen.zst");
  }

  ProgramRun Convert(const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {
        "convert",       in_.string(), out_.string(),          GetParam(), "--shards", "4",
        "--max-threads", "2",          "--min-free-space-gib", "0"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunBounded(arguments);
  }

  // A refusal: one line, nothing written, the input intact.
  void ExpectRefused(const ProgramRun& run, const std::string& message) const {
    ExpectRun(run, 1, "", message + "\n");
    EXPECT_FALSE(fs::exists(out_ / "run-summary.txt"));
    EXPECT_FALSE(fs::exists(out_ / "shard-000.psfen.zst"));
    EXPECT_EQ(ReadFile(in_ / "a.fen.zst"), input_bytes_);
  }

  // A run that succeeded without writing through anything planted in its output directory.
  void ExpectConvertedAndVictimIntact(const ProgramRun& run) const {
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(ReadFile(victim_), kVictimText);
    EXPECT_TRUE(fs::exists(out_ / "run-summary.txt"));
    ExpectRun(RunBoardmill({"verify-shards", out_.string(), "--shards", "4"}), 0,
              "Verified shard files: 4\nVerified records: 9\n", "");
  }

  const fs::path victim_ = temp_ / "victim.txt";
  std::string input_bytes_;
};

// --- Paths: a chosen path that would destroy an input or another output is refused. ---

TEST_P(HostilePathsTest, RefusesAPathOptionNamingAnInputFile) {
  const std::string input = (in_ / "a.fen.zst").string();
  ExpectRefused(Convert({"--reject-log", input}),
                "--reject-log must not name an input file: " + input);
  ExpectRefused(Convert({"--manifest", input}), "--manifest must not name an input file: " + input);
  // Reached through a link, and through a second name of the same file.
  fs::create_symlink(in_ / "a.fen.zst", temp_ / "link.tsv");
  ExpectRefused(Convert({"--reject-log", (temp_ / "link.tsv").string()}),
                "--reject-log must not name an input file: " + (temp_ / "link.tsv").string());
  fs::create_hard_link(in_ / "a.fen.zst", temp_ / "hard.tsv");
  ExpectRefused(Convert({"--manifest", (temp_ / "hard.tsv").string()}),
                "--manifest must not name an input file: " + (temp_ / "hard.tsv").string());
}

TEST_P(HostilePathsTest, RefusesAPathOptionInsideTheInputDirectory) {
  const std::string log = (in_ / "rejects.tsv").string();
  ExpectRefused(Convert({"--reject-log", log}),
                "--reject-log must not lie inside the input directory: " + log);
  EXPECT_FALSE(fs::exists(log));
  const std::string scratch = (in_ / "scratch").string();
  ExpectRefused(Convert({"--scratch-dir", scratch}),
                "--scratch-dir must not lie inside the input directory: " + scratch);
  EXPECT_FALSE(fs::exists(scratch));
}

TEST_P(HostilePathsTest, RefusesAPathOptionNamingAnOutputOfTheRun) {
  const std::string reason = " must not name a file the run writes in the output directory: ";
  for (const auto& [option, name] :
       std::vector<std::pair<std::string, std::string>>{{"--reject-log", "shard-000.psfen.zst"},
                                                        {"--reject-log", "shard-index.json"},
                                                        {"--manifest", "rejects.tsv"},
                                                        {"--reject-log", "run-manifest.tsv"},
                                                        {"--manifest", "_scratch/manifest.tsv"},
                                                        {"--scratch-dir", "run-summary.txt"}}) {
    const std::string path = (out_ / name).string();
    ExpectRefused(Convert({option, path}), option + reason + path);
  }
}

TEST_P(HostilePathsTest, RefusesTheManifestAndTheRejectLogAsOneFile) {
  const std::string shared = (temp_ / "records.tsv").string();
  ExpectRefused(Convert({"--manifest", shared, "--reject-log", shared}),
                "--reject-log must not name or lie inside the same place as --manifest: " + shared);
  EXPECT_FALSE(fs::exists(shared));
}

// --- Links and special files planted under the names of the run's outputs. ---

TEST_P(HostilePathsTest, NeverWritesThroughALinkPlantedUnderAnOutputName) {
  WriteFile(victim_, kVictimText);
  fs::create_directories(out_);
  for (const char* name : {"shard-000.psfen.zst", "rejects.tsv", "run-manifest.tsv",
                           "shard-index.json", "run-summary.txt"}) {
    fs::create_symlink(victim_, out_ / name);
  }
  ExpectConvertedAndVictimIntact(Convert({}));
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out_ / "shard-000.psfen.zst")));
}

TEST_P(HostilePathsTest, RefusesALinkPlantedAsTheLockFile) {
  fs::create_directories(out_);
  fs::create_symlink(temp_ / "elsewhere.lock", out_ / "boardmill.lock");
  const ProgramRun run = Convert({});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_FALSE(fs::exists(temp_ / "elsewhere.lock"));
  EXPECT_FALSE(fs::exists(out_ / "shard-000.psfen.zst"));
}

TEST_P(HostilePathsTest, DoesNotHangOnAFifoPlantedUnderAnOutputName) {
  WriteFile(victim_, kVictimText);
  fs::create_directories(out_);
  for (const char* name : {"shard-000.psfen.zst", "rejects.tsv", "run-manifest.tsv"}) {
    ASSERT_EQ(::mkfifo((out_ / name).c_str(), 0600), 0);
  }
  ExpectConvertedAndVictimIntact(Convert({}));
  EXPECT_TRUE(fs::is_regular_file(out_ / "shard-000.psfen.zst"));
}

INSTANTIATE_TEST_SUITE_P(EveryMode, HostilePathsTest, ::testing::ValuesIn(kModes), ModeName);

// --- Input entries named like inputs that are not regular files. ---

class InputEntryTest : public ConversionDirectoriesTest<::testing::TestWithParam<std::string>> {};

TEST_P(InputEntryTest, RefusesEveryEntryThatIsNotARegularFile) {
  WriteZstdFile(in_ / "a.fen.zst", Lines(kFens));
  const fs::path entry = in_ / "x.fen.zst";
  const std::string message = "Input entry is not a readable regular file: " + entry.string();
  if (GetParam() == "dangling link") fs::create_symlink(in_ / "missing", entry);
  if (GetParam() == "link loop") fs::create_symlink(entry, entry);
  if (GetParam() == "fifo") {
    ASSERT_EQ(::mkfifo(entry.c_str(), 0600), 0);
  }
  if (GetParam() == "directory") fs::create_directory(entry);

  ExpectRun(RunBounded({"scan", in_.string()}), 1, "", message + "\n");
  for (const std::string& mode : kModes) {
    ExpectRun(
        RunBounded({"convert", in_.string(), out_.string(), mode, "--min-free-space-gib", "0"}), 1,
        "", message + "\n");
    EXPECT_FALSE(fs::exists(out_)) << mode;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, InputEntryTest,
                         ::testing::Values("dangling link", "link loop", "fifo", "directory"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), ' ', '_');
                           return name;
                         });

// --- sample-fens: its manifest and outputs get the same care. ---

class SampleHostilePathsTest : public ConversionDirectoriesTest<> {
 protected:
  void SetUp() override { WriteZstdFile(in_ / "a.fen.zst", Lines(kFens)); }

  ProgramRun Sample(const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {"sample-fens", in_.string(), out_.string(),
                                          "--max-lines-per-file", "3"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunBounded(arguments);
  }
};

TEST_F(SampleHostilePathsTest, RefusesAManifestNamingAnInputOrASample) {
  const std::string bytes = ReadFile(in_ / "a.fen.zst");
  const std::string input = (in_ / "a.fen.zst").string();
  ExpectRun(Sample({"--manifest", input}), 1, "",
            "--manifest must not name an input file: " + input + "\n");
  EXPECT_EQ(ReadFile(in_ / "a.fen.zst"), bytes);
  const std::string sample = (out_ / "a.fen.zst").string();
  ExpectRun(
      Sample({"--manifest", sample}), 1, "",
      "--manifest must not name a file the run writes in the output directory: " + sample + "\n");
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(SampleHostilePathsTest, NeverWritesThroughALinkPlantedUnderAnOutputName) {
  const fs::path victim = temp_ / "victim.txt";
  WriteFile(victim, kVictimText);
  fs::create_directories(out_);
  fs::create_symlink(victim, out_ / "a.fen.zst");
  fs::create_symlink(victim, out_ / "sample-manifest.tsv");
  const ProgramRun run = Sample({});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadFile(victim), kVictimText);
  EXPECT_EQ(ReadZstdFile(out_ / "a.fen.zst"), Lines({kFens[0], kFens[1], kFens[2]}));
}

}  // namespace
}  // namespace boardmill
