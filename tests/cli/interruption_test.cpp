// Interrupted conversions: SIGKILL at random moments of parallel runs followed by --resume,
// SIGINT and SIGTERM in every mode, and what a failed or interrupted run leaves in a directory
// that already holds the output of an earlier, finished run.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "conversion_run_support.h"
#include "test_support.h"
#include "util/name_table.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

// Sums a numeric field (visited 5, encoded 6, invalid 7) over completed-file records.
std::uint64_t SumField(const std::vector<std::vector<std::string>>& records, std::size_t field) {
  std::uint64_t sum = 0;
  for (const std::vector<std::string>& record : records) sum += std::stoull(record.at(field));
  return sum;
}

void SleepMilliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// --- SIGKILL at random moments of parallel runs, then --resume ------------------------------

enum class Phase { kEarly, kConverting, kMerging };

constexpr util::NameTable<Phase, 3> kPhases = {
    {{Phase::kEarly, "early"}, {Phase::kConverting, "converting"}, {Phase::kMerging, "merging"}}};
static_assert(util::EachValueIsItsPlace(kPhases));

std::string PhaseName(Phase phase) { return std::string(util::NameOf(kPhases, phase)); }

constexpr int kKilledRunFiles = 20;

// Few shards keep the many short runs cheap under the sanitizers; small flushes give each
// fragment many writes to be interrupted in.
const std::vector<std::string> kKilledRunOptions = {
    "--parallel", "--max-threads", "2", "--shards", "32", "--records-per-flush", "64"};

// Each seed kills a chain of runs, once in each phase in a seeded order and at seeded moments,
// then resumes to the end. The result must not depend on where the kills landed.
class KilledParallelRunTest : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override {
    MakeInputs(input(), kKilledRunFiles, 1000);
    const ProgramRun whole = Convert(input(), temp_ / "whole", kKilledRunOptions);
    ASSERT_EQ(whole.exit_code, 0) << whole.err;
    expected_shards_ = ShardContents(temp_ / "whole");
    expected_summary_ = SummaryValues(temp_ / "whole" / "run-summary.txt");
  }

  fs::path input() const { return temp_ / "in"; }
  fs::path output() const { return temp_ / "out"; }
  fs::path manifest() const { return output() / "run-manifest.tsv"; }
  bool Finished() const { return fs::exists(output() / "run-summary.txt"); }

  // Starts a run and kills it in `phase`; returns whether the kill landed before the run ended.
  // Converting: once the run has recorded `converted` more files, with at least one to go.
  bool KillRunIn(Phase phase, bool resume, std::size_t converted, std::mt19937& random) {
    std::vector<std::string> options = kKilledRunOptions;
    if (resume) options.push_back("--resume");
    const std::size_t target = CompletedFileCount(manifest()) + converted;
    Child child(input(), output(), options);
    EXPECT_TRUE(child.started());
    if (phase == Phase::kEarly) {
      SleepMilliseconds(random() % 5);
    } else {
      const std::size_t all = kKilledRunFiles;
      child.WaitWhileRunning([&] {
        const std::size_t count = CompletedFileCount(manifest());
        return phase == Phase::kConverting ? count >= target : count == all;
      });
      SleepMilliseconds(random() % 2);
    }
    child.SignalAndWait(SIGKILL);
    return child.KilledBy(SIGKILL);
  }

  // Holds after every run, killed or not: run-summary.txt only ever follows a finish record of
  // the last run, and no file is converted twice.
  void ExpectConsistentDirectory(const std::string& context) {
    if (!fs::exists(manifest())) {
      EXPECT_FALSE(Finished()) << context;
      return;
    }
    const ManifestRecords records = ReadManifest(manifest());
    if (Finished()) {
      EXPECT_TRUE(records.last_run_finished) << context;
    }
    std::set<std::string> indices;
    for (const auto* files : {&records.earlier_files, &records.last_run_files}) {
      for (const std::vector<std::string>& record : *files) {
        EXPECT_TRUE(indices.insert(record.at(3)).second)
            << context << ": file index " << record.at(3) << " was converted twice";
      }
    }
  }

  TempDir temp_;
  std::map<std::string, std::string> expected_shards_;
  std::map<std::string, std::string> expected_summary_;
};

TEST_P(KilledParallelRunTest, ResumingAfterKillsInEveryPhaseGivesTheUninterruptedResult) {
  std::mt19937 random(GetParam());
  std::vector<Phase> phases;
  for (const util::NamedValue<Phase>& phase : kPhases) phases.push_back(phase.value);
  std::shuffle(phases.begin(), phases.end(), random);

  std::string landed;
  bool resume = false;
  for (Phase phase : phases) {
    // A kill can come too late, after the run finished; then there is nothing left to resume.
    if (Finished()) break;
    const std::size_t remaining = kKilledRunFiles - CompletedFileCount(manifest());
    if (phase == Phase::kConverting && remaining == 0) phase = Phase::kMerging;
    const std::size_t converted = remaining <= 1 ? 0 : 1 + random() % (remaining - 1);
    const bool killed = KillRunIn(phase, resume, converted, random);
    resume = true;
    const std::string context = "after a kill while " + PhaseName(phase);
    if (phase != Phase::kMerging) {
      EXPECT_TRUE(killed) << context << ": the run ended first; the input is too small";
    }
    if (killed) landed += std::string(landed.empty() ? "" : ", ") + PhaseName(phase);
    ExpectConsistentDirectory(context);
  }
  std::cout << "[ KILLS    ] seed " << GetParam() << ": landed while " << landed << '\n';

  if (!Finished()) {
    std::vector<std::string> options = kKilledRunOptions;
    options.push_back("--resume");
    const ProgramRun resumed = Convert(input(), output(), options);
    ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
  }
  ExpectConsistentDirectory("after the final resume");
  EXPECT_EQ(ShardContents(output()), expected_shards_);
  // The merge also takes the fragments of the killed runs: the index counts their records too.
  ExpectIndexDescribesShards(output(), 32);

  // Every file was converted exactly once over all the runs, and the last run's summary counts
  // just what that run converted and skipped.
  const ManifestRecords records = ReadManifest(manifest());
  EXPECT_TRUE(records.last_run_finished);
  std::vector<std::vector<std::string>> all = records.earlier_files;
  all.insert(all.end(), records.last_run_files.begin(), records.last_run_files.end());
  ASSERT_EQ(all.size(), std::size_t{kKilledRunFiles});
  EXPECT_EQ(std::to_string(SumField(all, 5)), expected_summary_["visited_lines"]);
  EXPECT_EQ(std::to_string(SumField(all, 6)), expected_summary_["encoded_positions"]);
  EXPECT_EQ(std::to_string(SumField(all, 7)), expected_summary_["invalid_positions"]);

  const std::map<std::string, std::string> summary = SummaryValues(output() / "run-summary.txt");
  EXPECT_EQ(summary.at("input_file_count"), std::to_string(kKilledRunFiles));
  EXPECT_EQ(summary.at("completed_input_files"), std::to_string(kKilledRunFiles));
  EXPECT_EQ(summary.at("skipped_input_files"), std::to_string(records.earlier_files.size()));
  EXPECT_EQ(summary.at("visited_lines"), std::to_string(SumField(records.last_run_files, 5)));
  EXPECT_EQ(summary.at("encoded_positions"), std::to_string(SumField(records.last_run_files, 6)));
  EXPECT_EQ(summary.at("invalid_positions"), std::to_string(SumField(records.last_run_files, 7)));
  EXPECT_EQ(summary.at("compressed_output_bytes"), expected_summary_["compressed_output_bytes"]);
  EXPECT_EQ(summary.at("output_file_count"), expected_summary_["output_file_count"]);
}

// The reject log is rebuilt from every task's rows, those of tasks an interrupted run finished
// included, so a resumed run logs exactly the rows of an uninterrupted one, in file order.
TEST_P(KilledParallelRunTest, AResumedRunLogsTheRejectsOfTheUninterruptedRunRowForRow) {
  std::mt19937 random(GetParam());
  const std::size_t converted = 1 + random() % (kKilledRunFiles / 2);
  EXPECT_TRUE(KillRunIn(Phase::kConverting, /*resume=*/false, converted, random));
  std::vector<std::string> options = kKilledRunOptions;
  options.push_back("--resume");
  const ProgramRun resumed = Convert(input(), output(), options);
  ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
  EXPECT_NE(SummaryValues(output() / "run-summary.txt")["skipped_input_files"], "0")
      << "the kill came before any file was recorded";
  EXPECT_EQ(ReadLines(output() / "rejects.tsv"), ReadLines(temp_ / "whole" / "rejects.tsv"));
}

INSTANTIATE_TEST_SUITE_P(Seeds, KilledParallelRunTest, ::testing::Values(1U, 2U, 3U, 4U, 5U));

// --- SIGINT and SIGTERM ----------------------------------------------------------------------

struct ModeCase {
  std::string name;
  std::vector<std::string> options;
  // The run resumes a parallel run that finished on the first files only.
  bool resumes = false;
};

std::vector<ModeCase> EveryMode() {
  return {
      {"sequential", {"--sequential"}},
      {"parallel", {"--parallel", "--max-threads", "2"}},
      {"parallel-resume", {"--parallel", "--max-threads", "2"}, true},
      {"staged", {"--staged", "--max-threads", "2"}},
  };
}

bool IsParallel(const ModeCase& mode) { return mode.options.front() == "--parallel"; }

// Fills `output` with a finished run of the first files of `input`, so that the run under test
// finds an earlier run's summary and, in the parallel modes, its finished manifest.
void FinishEarlierRun(const fs::path& input, const fs::path& output, const ModeCase& mode,
                      const std::string& file_count) {
  std::vector<std::string> options = mode.options;
  options.insert(options.end(), {"--max-files", file_count});
  if (mode.resumes) options.push_back("--keep-scratch");
  const ProgramRun earlier = Convert(input, output, options);
  ASSERT_EQ(earlier.exit_code, 0) << earlier.err;
  ASSERT_TRUE(fs::exists(output / "run-summary.txt"));
}

std::vector<std::string> OptionsUnderTest(const ModeCase& mode) {
  std::vector<std::string> options = mode.options;
  if (mode.resumes) options.push_back("--resume");
  return options;
}

// A directory that a failed or interrupted run left must not look finished: no run summary, and
// in the parallel modes no finish record for the last run in the manifest.
void ExpectUnfinished(const fs::path& output, const ModeCase& mode) {
  EXPECT_FALSE(fs::exists(output / "run-summary.txt")) << mode.name;
  EXPECT_FALSE(fs::exists(output / "run-summary.txt.partial")) << mode.name;
  if (!IsParallel(mode)) return;
  const ManifestRecords records = ReadManifest(output / "run-manifest.tsv");
  EXPECT_FALSE(records.last_run_finished) << mode.name;
  EXPECT_EQ(records.run_starts, mode.resumes ? 2U : 1U) << mode.name;
}

// The run under test has started for real: it removed the earlier summary and, in the parallel
// modes, rewrote or extended the manifest.
bool RunUnderway(const fs::path& output, const ModeCase& mode) {
  if (fs::exists(output / "run-summary.txt")) return false;
  if (!IsParallel(mode)) return true;
  const ManifestRecords records = ReadManifest(output / "run-manifest.tsv");
  return records.run_starts == (mode.resumes ? 2U : 1U) && !records.last_run_finished;
}

// Nothing in boardmill handles or blocks these signals, so the default disposition ends it at
// once in every mode; the bound only catches a hang or a handler that waits for the run.
TEST(SignalTest, SigintAndSigtermStopEveryModePromptlyAndLeaveNoFinishedLookingDirectory) {
  TempDir temp;
  MakeInputs(temp / "in", 20, 4000);
  std::mt19937 random(7);
  for (const ModeCase& mode : EveryMode()) {
    for (const int signal : {SIGINT, SIGTERM}) {
      const std::string name = mode.name + (signal == SIGINT ? "-sigint" : "-sigterm");
      SCOPED_TRACE(name);
      const fs::path output = temp / name;
      FinishEarlierRun(temp / "in", output, mode, mode.resumes ? "2" : "1");

      Child child(temp / "in", output, OptionsUnderTest(mode));
      ASSERT_TRUE(child.started());
      ASSERT_TRUE(child.WaitWhileRunning([&] { return RunUnderway(output, mode); }))
          << "the run ended before it was underway, or never removed the earlier summary";
      SleepMilliseconds(10 + random() % 40);
      ASSERT_TRUE(child.Running()) << "the run ended before the signal; the input is too small";
      const double seconds = child.SignalAndWait(signal);
      std::cout << "[ STOPPED  ] " << name << " in " << seconds * 1000 << " ms\n";
      EXPECT_TRUE(child.KilledBy(signal));
      EXPECT_LT(seconds, 5.0);
      ExpectUnfinished(output, mode);
    }
  }
}

// --- Runs that fail in a directory an earlier run finished --------------------------------------

TEST(EarlierRunTest, AFailedRunLeavesNoSummaryOrFinishRecordOfTheEarlierRunInEveryMode) {
  TempDir temp;
  MakeInputs(temp / "in", 3, 200);
  // Sorts after the good files, so the run fails after it has written output for them.
  WriteFile(temp / "in" / "input-999.fen.zst", "not a zstandard frame");
  for (const ModeCase& mode : EveryMode()) {
    SCOPED_TRACE(mode.name);
    const fs::path output = temp / mode.name;
    FinishEarlierRun(temp / "in", output, mode, "3");
    const ProgramRun failed = Convert(temp / "in", output, OptionsUnderTest(mode));
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.out, "");
    EXPECT_EQ(std::count(failed.err.begin(), failed.err.end(), '\n'), 1) << failed.err;
    EXPECT_TRUE(failed.err.ends_with("\n")) << failed.err;
    ExpectUnfinished(output, mode);
  }
}

// An earlier summary that cannot be removed would stay and vouch for this run's shards, so the
// run refuses to start writing them.
TEST(EarlierRunTest, AnEarlierSummaryThatCannotBeRemovedStopsTheRunInEveryMode) {
  TempDir temp;
  MakeInputs(temp / "in", 2, 50);
  for (const ModeCase& mode : EveryMode()) {
    SCOPED_TRACE(mode.name);
    const fs::path summary = temp / mode.name / "run-summary.txt";
    WriteFile(summary / "in-the-way", "");
    const ProgramRun run = Convert(temp / "in", temp / mode.name, OptionsUnderTest(mode));
    ExpectRun(run, 1, "",
              "Failed to remove the run summary of an earlier run: " + summary.string() + "\n");
    EXPECT_FALSE(fs::exists(temp / mode.name / "shard-000.psfen.zst"));
  }
}

// The resumed run opens its manifest and then rewrites the reject log; a kill as soon as the
// reject log is rewritten, long before the first file is done, must find the new run's start
// record on disk. Were it still buffered, the earlier run's finish record would stay last and
// the manifest would pass for that of a finished run.
TEST(EarlierRunTest, AResumedRunKilledBeforeItsFirstFileHasStartedItsManifest) {
  TempDir temp;
  MakeInputs(temp / "in", 20, 1000);
  const ModeCase mode = EveryMode()[2];
  ASSERT_TRUE(mode.resumes);
  const fs::path output = temp / "out";
  FinishEarlierRun(temp / "in", output, mode, "1");
  const std::uintmax_t earlier_rejects = fs::file_size(output / "rejects.tsv");

  Child child(temp / "in", output, OptionsUnderTest(mode));
  // The earlier reject log may be gone for a moment before the new one is created.
  ASSERT_TRUE(child.WaitWhileRunning([&] {
    std::error_code missing;
    const std::uintmax_t size = fs::file_size(output / "rejects.tsv", missing);
    return !missing && size < earlier_rejects;
  }));
  child.SignalAndWait(SIGKILL);
  ASSERT_TRUE(child.KilledBy(SIGKILL));
  EXPECT_EQ(CompletedFileCount(output / "run-manifest.tsv"), 1U) << "killed before any new file";
  ExpectUnfinished(output, mode);
}

// A record torn by a kill or a full disk ends the manifest without its newline. Resuming must not
// glue its own records onto it, or the next resume finds a garbled record and refuses to go on.
TEST(EarlierRunTest, ATornLastManifestRecordDoesNotSpoilLaterResumes) {
  TempDir temp;
  MakeInputs(temp / "in", 4, 200);
  const ProgramRun whole = Convert(temp / "in", temp / "whole", {"--parallel"});
  ASSERT_EQ(whole.exit_code, 0) << whole.err;
  const fs::path output = temp / "out";
  const fs::path manifest = output / "run-manifest.tsv";
  ASSERT_EQ(
      Convert(temp / "in", output, {"--parallel", "--keep-scratch", "--max-files", "2"}).exit_code,
      0);

  for (const std::string torn : {"file\tcompleted\t2026-01-01T00:00:00Z\t", "file\tcompleted\t20",
                                 "file\tcompleted\t2026-01-01T00:00:00Z\t3\t/in/input-1"}) {
    SCOPED_TRACE(torn);
    const std::string before = ReadFile(manifest);
    WriteFile(manifest, before + torn);
    for (int resume = 0; resume < 2; ++resume) {
      const ProgramRun resumed =
          Convert(temp / "in", output, {"--parallel", "--keep-scratch", "--resume"});
      ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
      EXPECT_EQ(ShardContents(output), ShardContents(temp / "whole"));
    }
    const std::string after = ReadFile(manifest);
    EXPECT_TRUE(after.starts_with(before)) << "records before the torn one are kept";
    EXPECT_TRUE(IsRunStart(after.substr(before.size()))) << "the torn record is cut off";
  }
}

}  // namespace
}  // namespace boardmill::testing
