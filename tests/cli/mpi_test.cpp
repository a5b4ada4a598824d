// The parallel mode across the ranks of an MPI job, started with Open MPI's mpirun on this
// machine in the boardmill-mpi flavour: the same shards, manifest totals and reject log as one
// process; a killed job resumed by the plain program without mpirun; directories the ranks do not
// share; options with no meaning across ranks; the plain program refusing to convert under a
// launcher.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "conversion_run_support.h"
#include "mpi_launch.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

std::string ConvertCommand(const fs::path& input, const fs::path& output,
                           const std::vector<std::string>& extra,
                           const std::string& binary = BOARDMILL_MPI_BINARY) {
  return ShellCommand(binary, ConvertArguments(input, output, extra));
}

// The visited, encoded and invalid counts of every completed-file record, by file index.
std::map<std::string, std::string> CompletedFiles(const fs::path& manifest) {
  std::map<std::string, std::string> files;
  for (const std::string& line : ReadLines(manifest)) {
    if (!line.starts_with("file\tcompleted\t")) continue;
    const std::vector<std::string> fields = Split(line, '\t');
    files[fields.at(3)] = fields.at(5) + " " + fields.at(6) + " " + fields.at(7);
  }
  return files;
}

class MpiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string reason = MpiSkipReason(); !reason.empty()) GTEST_SKIP() << reason;
    // Files large enough to be groups of their own, so that every rank gets some.
    MakeInputs(input(), 8, 5000);
    const ProgramRun alone =
        Convert(input(), temp_ / "alone", {"--parallel", "--max-threads", "2"});
    ASSERT_EQ(alone.exit_code, 0) << alone.err;
  }

  fs::path input() const { return temp_ / "in"; }

  // Shards, reject log and the manifest's completed files: what any run of the input leaves.
  void ExpectSameOutputAsAlone(const fs::path& output) {
    EXPECT_EQ(ShardContents(output), ShardContents(temp_ / "alone"));
    EXPECT_EQ(ReadLines(output / "rejects.tsv"), ReadLines(temp_ / "alone" / "rejects.tsv"));
    EXPECT_EQ(CompletedFiles(output / "run-manifest.tsv"),
              CompletedFiles(temp_ / "alone" / "run-manifest.tsv"));
    // Every rank's merged shards, as rank 0 lists them.
    ExpectIndexDescribesShards(output, 256);
  }

  TempDir temp_;
};

TEST_F(MpiTest, TwoAndThreeRanksWriteWhatOneProcessWrites) {
  for (const int ranks : {2, 3}) {
    SCOPED_TRACE(std::to_string(ranks) + " ranks");
    const fs::path output = temp_ / NumberedName("ranks-", ranks, "");
    const ProgramRun run =
        RunShell(MpiRun(ranks) + ConvertCommand(input(), output, {"--max-threads", "1"}));
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find(NumberedName("\nEffective max workers: ", ranks, "\n")),
              std::string::npos)
        << run.out;
    ExpectSameOutputAsAlone(output);
    // The counters are summed over the ranks.
    std::map<std::string, std::string> summary = SummaryValues(output / "run-summary.txt");
    std::map<std::string, std::string> expected =
        SummaryValues(temp_ / "alone" / "run-summary.txt");
    for (const char* key : {"input_file_count", "visited_lines", "encoded_positions",
                            "invalid_positions", "reject_log_entries", "compressed_input_bytes",
                            "raw_output_bytes", "output_file_count"}) {
      EXPECT_EQ(summary[key], expected[key]) << key;
    }
  }
}

TEST_F(MpiTest, AKilledJobResumesWithoutMpirun) {
  const fs::path output = temp_ / "out";
  const ProgramRun started =
      RunShell(MpiRun(2) + ConvertCommand(input(), output, {"--max-threads", "1"}) +
               " >/dev/null 2>&1 & sleep 0");
  ASSERT_EQ(started.exit_code, 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (std::chrono::steady_clock::now() < deadline &&
         !(fs::exists(output / "run-manifest.tsv") &&
           !CompletedFiles(output / "run-manifest.tsv").empty())) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // mpirun and every rank: the ranks run in process groups of their own, and a rank that
  // outlived a killed mpirun would go on writing. Until none is left, since a rank still dying
  // holds the output directory's lock.
  while (RunShell("pkill -9 -f " + QuoteForShell(output.string())).exit_code == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_FALSE(CompletedFiles(output / "run-manifest.tsv").empty()) << "the job never started";
  ASSERT_FALSE(fs::exists(output / "run-summary.txt")) << "the job ended before the kill";

  const ProgramRun resumed = Convert(input(), output, {"--parallel", "--resume"});
  ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
  ExpectSameOutputAsAlone(output);
}

// Rank 0 checks the path options before any rank writes, and every rank creates its shards
// afresh rather than through a link planted under a shard's name.
TEST_F(MpiTest, HostilePathsAreRefusedAndPlantedLinksNotFollowed) {
  const fs::path input_file = input() / "input-100.fen.zst";
  const std::string input_bytes = ReadFile(input_file);
  const ProgramRun refused =
      RunShell(MpiRun(2) +
               ConvertCommand(input(), temp_ / "refused", {"--reject-log", input_file.string()}));
  EXPECT_NE(refused.exit_code, 0);
  EXPECT_EQ(refused.err.substr(0, refused.err.find('\n') + 1),
            "--reject-log must not name an input file: " + input_file.string() + "\n");
  EXPECT_EQ(ReadFile(input_file), input_bytes);
  EXPECT_FALSE(fs::exists(temp_ / "refused"));

  const fs::path output = temp_ / "linked";
  const fs::path victim = temp_ / "victim.txt";
  WriteFile(victim, "not to be touched\n");
  fs::create_directories(output);
  // Shard 1 is merged by rank 1, shard 0 by rank 0.
  for (const char* name : {"shard-000.psfen.zst", "shard-001.psfen.zst", "rejects.tsv"}) {
    fs::create_symlink(victim, output / name);
  }
  const ProgramRun run =
      RunShell(MpiRun(2) + ConvertCommand(input(), output, {"--max-threads", "1"}));
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadFile(victim), "not to be touched\n");
  ExpectSameOutputAsAlone(output);
}

TEST_F(MpiTest, OutputThatTheRanksDoNotShareAndModesOfOneProcessAreRefused) {
  const ProgramRun staged =
      RunShell(MpiRun(2) + ConvertCommand(input(), temp_ / "staged", {"--staged"}));
  EXPECT_NE(staged.exit_code, 0);
  EXPECT_EQ(staged.err.substr(0, staged.err.find('\n') + 1),
            "--staged cannot run across the ranks of an MPI job; use --parallel, or run without "
            "an MPI launcher.\n");

  if (geteuid() != 0) GTEST_SKIP() << "hiding the output from one rank needs root (mount)";
  // Rank 1 sees an empty file system of its own where rank 0 sees the output directory.
  const fs::path output = temp_ / "out";
  fs::create_directories(output);
  const std::string convert = ConvertCommand(input(), output, {});
  const fs::path rank_script = temp_ / "rank.sh";
  WriteFile(rank_script,
            "if [ \"$OMPI_COMM_WORLD_RANK\" = 1 ]; then\n"
            "  exec unshare -m sh -c 'mount -t tmpfs none \"$1\" && shift && "
            "exec \"$@\"' sh " +
                QuoteForShell(output.string()) + " " + convert + "\nfi\nexec " + convert + "\n");
  const ProgramRun run = RunShell(MpiRun(2) + "sh " + QuoteForShell(rank_script.string()));
  EXPECT_NE(run.exit_code, 0);
  EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
            "Rank 1 of the MPI job cannot see " + output.string() +
                " as rank 0 does: every rank must share the output and scratch directories.\n");
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(fs::exists(output / "run-manifest.tsv")) << "work started";
}

// Without MPI, each rank would convert the whole input into the same directory as the others.
// The launcher's environment alone shows the start, so no mpirun is needed here.
TEST(MpiLauncherWithoutMpiTest, ThePlainProgramRefusesToConvertInOneLine) {
  TempDir temp;
  MakeInputs(temp / "in", 1, 10);
  const ProgramRun run = RunShell("env OMPI_COMM_WORLD_SIZE=2 OMPI_COMM_WORLD_RANK=0 " +
                                  ConvertCommand(temp / "in", temp / "out", {}, BOARDMILL_BINARY));
  ExpectRun(run, 1, "",
            "This boardmill has no MPI support; run boardmill-mpi under mpirun (package "
            "boardmill-mpi).\n");
  EXPECT_FALSE(fs::exists(temp / "out")) << "the refused run touched the output";
}

}  // namespace
}  // namespace boardmill::testing
