#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "pooled_summary_keys.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

const char* const kBaseFens[] = {
    "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",
    "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
    "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1",
    "8/8/8/8/8/8/8/K6k w - - 0 1",
    "r1bqkb1r/pppp1ppp/2n2n2/4p3/2B1P3/5N2/PPPP1PPP/RNBQK2R w KQkq - 4 4",
    "2kr3r/ppp2ppp/2n5/8/8/2N5/PPP2PPP/2KR3R b - - 3 15",
    "6k1/5ppp/8/8/8/8/5PPP/6K1 w - - 0 40",
    "rnb1kbnr/pppp1ppp/8/4p3/6Pq/5P2/PPPPP2P/RNBQKBNR w KQkq - 1 3",
};

// Distinct valid lines: the base positions with varying clocks, plus the odd invalid line,
// blank line and CRLF ending that real inputs contain.
std::string MakeInputText(int file, int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    const std::string fen = kBaseFens[(i + file) % std::size(kBaseFens)];
    const std::string board_and_flags = fen.substr(0, fen.rfind(' ', fen.rfind(' ') - 1));
    text +=
        board_and_flags + " " + std::to_string(i % 100) + " " + std::to_string(1 + file * 7 + i);
    text += (i % 97 == 5) ? "\r\n" : "\n";
    if (i % 211 == 7) text += "not a fen at all\n";
    if (i % 53 == 3) text += "\n";
  }
  return text;
}

void MakeInputs(const fs::path& directory, int files, int lines) {
  for (int file = 0; file < files; ++file) {
    WriteZstdFile(directory / ("input-" + std::to_string(10 + file) + ".fen.zst"),
                  MakeInputText(file, lines));
  }
}

// Decompressed content per shard file name; a zero-byte file reads as empty.
std::map<std::string, std::string> ShardContents(const fs::path& directory) {
  std::map<std::string, std::string> contents;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".psfen.zst")) {
      contents[name] = fs::file_size(entry.path()) == 0 ? "" : ReadZstdFile(entry.path());
    }
  }
  return contents;
}

ProgramRun Convert(const fs::path& input, const fs::path& output, std::vector<std::string> extra) {
  std::vector<std::string> arguments = {"convert", input.string(), output.string(),
                                        "--min-free-space-gib", "0"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return RunBoardmill(arguments);
}

std::vector<std::string> LinesStartingWith(const fs::path& file, const std::string& prefix) {
  std::vector<std::string> found;
  for (const std::string& line : ReadLines(file)) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

class ParallelConversionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeInputs(input(), 6, 1500);
    const ProgramRun sequential = Convert(input(), temp_ / "sequential", {"--sequential"});
    ASSERT_EQ(sequential.exit_code, 0) << sequential.err;
    expected_ = ShardContents(temp_ / "sequential");
  }

  fs::path input() const { return temp_ / "in"; }

  TempDir temp_;
  std::map<std::string, std::string> expected_;
};

TEST_F(ParallelConversionTest, ShardContentMatchesSequentialForEveryPoolShape) {
  const std::vector<std::vector<std::string>> variants = {
      {"--max-threads", "1", "--parallel"},
      {"--max-threads", "2"},
      {"--max-threads", "7", "--merge-threads", "5"},
      {"--max-threads", "7", "--merge-threads", "1", "--no-fast-encoder"},
      {"--max-threads", "3", "--autotune", "--records-per-flush", "7", "--line-batch-size", "13"},
      {"--max-threads", "2", "--autotune", "--no-fast-encoder", "--min-workers", "2"},
  };
  int run = 0;
  for (const std::vector<std::string>& variant : variants) {
    const fs::path output = temp_ / ("parallel-" + std::to_string(run++));
    const ProgramRun result = Convert(input(), output, variant);
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("Execution mode: parallel\n"), std::string::npos);
    EXPECT_EQ(ShardContents(output), expected_) << "variant " << run - 1;
    EXPECT_FALSE(fs::exists(output / "_scratch" / "fragments"));
    EXPECT_TRUE(fs::exists(output / "_scratch"));
  }
}

TEST_F(ParallelConversionTest, ReportFilesHaveTheirExactShape) {
  const fs::path output = temp_ / "out";
  const ProgramRun result = Convert(input(), output, {"--max-threads", "2", "--autotune"});
  ASSERT_EQ(result.exit_code, 0) << result.err;

  const std::vector<std::string> rejects = ReadLines(output / "rejects.tsv");
  ASSERT_FALSE(rejects.empty());
  EXPECT_EQ(rejects[0], "input_path\tline_number\terror\tfen");
  ASSERT_GT(rejects.size(), 1U);
  for (std::size_t i = 1; i < rejects.size(); ++i) {
    const std::vector<std::string> fields = Split(rejects[i], '\t');
    ASSERT_EQ(fields.size(), 4U) << rejects[i];
    EXPECT_EQ(fields[2], "Board field contains an invalid piece character.");
    EXPECT_EQ(fields[3], "not a fen at all");
  }

  const fs::path manifest = output / "run-manifest.tsv";
  const std::vector<std::string> lines = ReadLines(manifest);
  ASSERT_GE(lines.size(), 9U);
  EXPECT_EQ(lines[0], "record_type\tphase\ttimestamp\tpayload");
  EXPECT_EQ(lines[1].rfind("run\tstart\t", 0), 0U);
  EXPECT_NE(lines[1].find("\tmode=parallel;input_directory="), std::string::npos);
  EXPECT_NE(lines[1].find(";resume=0;enable_fast_encoder=1;enable_autotune=1"), std::string::npos);
  const std::vector<std::string> files = LinesStartingWith(manifest, "file\tcompleted\t");
  ASSERT_EQ(files.size(), 6U);
  for (const std::string& line : files) EXPECT_EQ(Split(line, '\t').size(), 23U) << line;
  const std::vector<std::string> tuning = LinesStartingWith(manifest, "tune\tdecision\t");
  ASSERT_FALSE(tuning.empty());
  const std::vector<std::string> start = Split(tuning[0], '\t');
  ASSERT_EQ(start.size(), 10U);
  EXPECT_EQ(start[3], "0");
  EXPECT_EQ(start[8], "0");
  EXPECT_EQ(start[9], "Autotuner started.");
  EXPECT_EQ(lines.back().rfind("run\tfinish\t", 0), 0U);
  EXPECT_NE(lines.back().find("\tstatus=success;completed_input_files=6;skipped_input_files=0;"),
            std::string::npos);

  const std::vector<std::string> summary = ReadLines(output / "run-summary.txt");
  const std::vector<std::string> keys = PooledSummaryKeys(pipeline::ExecutionMode::kParallel);
  ASSERT_EQ(summary.size(), keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_EQ(summary[i].substr(0, summary[i].find('=')), keys[i]);
  }
  EXPECT_EQ(summary[0], "execution_mode=parallel");
  EXPECT_EQ(summary[15], "reject_log_entries=" + std::to_string(rejects.size() - 1));
  EXPECT_EQ(summary[8], "input_file_count=6");
  const std::string elapsed = summary[24].substr(summary[24].find('=') + 1);
  EXPECT_EQ(elapsed.size() - elapsed.find('.'), 4U) << "three decimals: " << elapsed;
}

TEST_F(ParallelConversionTest, KeepScratchLeavesFragmentsAndMaxFilesTakesTheFirstFiles) {
  const fs::path output = temp_ / "out";
  const ProgramRun result =
      Convert(input(), output, {"--max-threads", "2", "--keep-scratch", "--max-files", "3"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_NE(result.out.find("\nInput files: 3\n"), std::string::npos);
  // The three small files make one task: one fragment and its reject rows, nothing for file 3.
  const fs::path fragments = output / "_scratch" / "fragments";
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(fragments)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"files-000000-000002.fragment",
                                             "files-000000-000002.rejects"}));
  EXPECT_EQ(ReadLines(fragments / "files-000000-000002.rejects").size() + 1,
            ReadLines(output / "rejects.tsv").size());
}

TEST(ParallelConversionEdgeTest, NoInputFilesGivesEmptyShardFiles) {
  TempDir temp;
  fs::create_directories(temp / "in");
  const ProgramRun result = Convert(temp / "in", temp / "out", {"--parallel", "--shards", "4"});
  ASSERT_EQ(result.exit_code, 0) << result.err;
  for (const std::string name : {"shard-000.psfen.zst", "shard-003.psfen.zst"}) {
    ASSERT_TRUE(fs::exists(temp / "out" / name));
    EXPECT_EQ(fs::file_size(temp / "out" / name), 0U);
  }
  EXPECT_NE(result.out.find("\nOutput files: 4\n"), std::string::npos);
  EXPECT_NE(result.out.find("\nVisited lines: 0\n"), std::string::npos);
}

TEST(ParallelConversionEdgeTest, FreeSpaceFloorAboveTheDiskFailsBeforeConverting) {
  TempDir temp;
  MakeInputs(temp / "in", 1, 10);
  const ProgramRun result =
      RunBoardmill({"convert", (temp / "in").string(), (temp / "out").string(), "--parallel",
                    "--min-free-space-gib", "100000000"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("Available space ", 0), 0U) << result.err;
  EXPECT_NE(result.err.find(" is below the minimum required 107374182400000000 bytes.\n"),
            std::string::npos)
      << result.err;
  EXPECT_FALSE(fs::exists(temp / "out" / "run-summary.txt"));
}

TEST(ParallelResumeTest, ResumeSkipsCompletedFilesAndChecksTheirNames) {
  TempDir temp;
  MakeInputs(temp / "in", 4, 300);
  const ProgramRun first = Convert(temp / "in", temp / "out", {"--parallel", "--keep-scratch"});
  ASSERT_EQ(first.exit_code, 0) << first.err;
  const std::map<std::string, std::string> expected = ShardContents(temp / "out");

  const ProgramRun again =
      Convert(temp / "in", temp / "out", {"--parallel", "--resume", "--keep-scratch"});
  ASSERT_EQ(again.exit_code, 0) << again.err;
  EXPECT_NE(again.out.find("\nSkipped files: 4\n"), std::string::npos);
  EXPECT_EQ(ShardContents(temp / "out"), expected);
  const fs::path manifest = temp / "out" / "run-manifest.tsv";
  EXPECT_EQ(LinesStartingWith(manifest, "record_type\t").size(), 1U);
  EXPECT_EQ(LinesStartingWith(manifest, "run\tstart\t").size(), 2U);
  EXPECT_EQ(LinesStartingWith(manifest, "run\tfinish\t").size(), 2U);
  EXPECT_NE(LinesStartingWith(manifest, "run\tstart\t")[1].find(";resume=1;"), std::string::npos);

  // A file inserted before the others shifts every index: resuming would skip the wrong files.
  WriteZstdFile(temp / "in" / "input-0.fen.zst", MakeInputText(9, 10));
  const ProgramRun shifted = Convert(temp / "in", temp / "out", {"--parallel", "--resume"});
  EXPECT_EQ(shifted.exit_code, 1);
  EXPECT_NE(shifted.err.find(" records file index 0 as input-10.fen.zst, but the input file at "
                             "that index is now input-0.fen.zst.\n"),
            std::string::npos)
      << shifted.err;
  fs::remove(temp / "in" / "input-0.fen.zst");

  for (const fs::directory_entry& entry :
       fs::directory_iterator(temp / "out" / "_scratch" / "fragments")) {
    fs::remove(entry.path());
  }
  const ProgramRun missing = Convert(temp / "in", temp / "out", {"--parallel", "--resume"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "Nothing to resume: the run recorded in " +
                             (temp / "out" / "run-manifest.tsv").string() + " already finished.\n");
}

// A finished run leaves no fragments behind; resuming it is refused in one line that says why,
// and leaves its output as it was.
TEST(ParallelResumeTest, ResumingAFinishedRunSaysItFinished) {
  TempDir temp;
  MakeInputs(temp / "in", 2, 50);
  ASSERT_EQ(Convert(temp / "in", temp / "out", {"--parallel"}).exit_code, 0);
  const std::map<std::string, std::string> shards = ShardContents(temp / "out");
  const std::string summary = ReadFile(temp / "out" / "run-summary.txt");
  const ProgramRun resumed = Convert(temp / "in", temp / "out", {"--parallel", "--resume"});
  EXPECT_EQ(resumed.exit_code, 1);
  EXPECT_EQ(resumed.out, "");
  EXPECT_EQ(resumed.err, "Nothing to resume: the run recorded in " +
                             (temp / "out" / "run-manifest.tsv").string() + " already finished.\n");
  EXPECT_EQ(ShardContents(temp / "out"), shards);
  EXPECT_EQ(ReadFile(temp / "out" / "run-summary.txt"), summary);
}

TEST(ParallelResumeTest, ManifestWithAnInvalidIndexIsRefused) {
  TempDir temp;
  MakeInputs(temp / "in", 1, 10);
  WriteFile(temp / "out" / "run-manifest.tsv",
            "record_type\tphase\ttimestamp\tpayload\nfile\tcompleted\t2026-01-01T00:00:00Z\t12abc\t"
            "x.fen.zst\n");
  const ProgramRun result = Convert(temp / "in", temp / "out", {"--parallel", "--resume"});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.err.find("line 2"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("run-manifest.tsv"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace boardmill::testing
