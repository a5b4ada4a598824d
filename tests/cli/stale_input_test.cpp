// Input files that change between a killed parallel run and its --resume: the resumed run
// converts them again instead of reusing what the earlier run made of their old content, and its
// report and summary count what the shards hold as a whole.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"
#include "conversion_run_support.h"
#include "shards/shard_index_reader.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 12;
const std::vector<std::string> kOptions = {"--parallel", "--max-threads",       "2", "--shards",
                                           "8",          "--records-per-flush", "64"};

class StaleInputTest : public ::testing::Test {
 protected:
  fs::path input() const { return temp_ / "in"; }
  fs::path output() const { return temp_ / "out"; }
  fs::path manifest() const { return output() / "run-manifest.tsv"; }

  // Starts a run and kills it once it has recorded at least one file, with files still to go;
  // the path of the first file it recorded.
  fs::path KillAfterTheFirstCompletedFile() {
    MakeInputs(input(), kFiles, 3000);
    Child child(input(), output(), kOptions);
    EXPECT_TRUE(child.started());
    child.WaitWhileRunning([&] { return CompletedFileCount(manifest()) >= 1; });
    child.SignalAndWait(SIGKILL);
    EXPECT_TRUE(child.KilledBy(SIGKILL)) << "the run ended before it could be killed";
    const ManifestRecords records = ReadManifest(manifest());
    EXPECT_FALSE(records.last_run_files.empty());
    EXPECT_LT(records.last_run_files.size(), std::size_t{kFiles});
    return records.last_run_files.empty() ? fs::path() : fs::path(records.last_run_files[0].at(4));
  }

  // Resumes, and expects the shards and summary of a fresh run over today's inputs, an index
  // that agrees, and `redone` files converted again.
  void ExpectResumeMatchesAFreshRun(std::uint64_t redone) {
    std::vector<std::string> options = kOptions;
    options.push_back("--resume");
    const ProgramRun resumed = Convert(input(), output(), options);
    ASSERT_EQ(resumed.exit_code, 0) << resumed.err;
    const ProgramRun fresh = Convert(input(), temp_ / "fresh", kOptions);
    ASSERT_EQ(fresh.exit_code, 0) << fresh.err;
    EXPECT_EQ(ShardContents(output()), ShardContents(temp_ / "fresh"));
    ExpectIndexDescribesShards(output(), 8);

    std::map<std::string, std::string> summary = SummaryValues(output() / "run-summary.txt");
    std::map<std::string, std::string> fresh_summary =
        SummaryValues(temp_ / "fresh" / "run-summary.txt");
    EXPECT_EQ(summary["redone_input_files"], std::to_string(redone));
    EXPECT_EQ(summary["output_records"], fresh_summary["encoded_positions"]);
    EXPECT_FALSE(fresh_summary.contains("output_records")) << "only resumed runs add the total";
    EXPECT_NE(resumed.out.find("\nRedone files: " + std::to_string(redone) + "\n"),
              std::string::npos)
        << resumed.out;
    EXPECT_NE(resumed.out.find("\nOutput records: " + fresh_summary["encoded_positions"] + "\n"),
              std::string::npos)
        << resumed.out;
  }

  TempDir temp_;
};

TEST_F(StaleInputTest, AFileReplacedByAShorterOneIsConvertedAgain) {
  const fs::path completed = KillAfterTheFirstCompletedFile();
  ASSERT_FALSE(completed.empty());
  const std::string text = ReadZstdFile(completed);
  WriteZstdFile(completed, text.substr(0, text.find('\n', text.size() / 3) + 1));
  ExpectResumeMatchesAFreshRun(1);

  // The manifest now records the new file's size, so a second resume redoes nothing.
  const ManifestRecords records = ReadManifest(manifest());
  std::optional<std::string> recorded_size;
  for (const std::vector<std::string>& record : records.last_run_files) {
    if (record.at(4) == completed.string()) recorded_size = record.at(record.size() - 2);
  }
  EXPECT_EQ(recorded_size, std::to_string(fs::file_size(completed)));
}

// A manifest written before records held stamps: its files' stamps are unknown, so the files
// it records are converted again rather than trusted.
TEST_F(StaleInputTest, AManifestWithoutStampsStillResumesAndRedoesItsFiles) {
  ASSERT_FALSE(KillAfterTheFirstCompletedFile().empty());
  std::string old_format;
  std::uint64_t recorded = 0;
  for (const std::string& line : ReadLines(manifest())) {
    std::string kept = line;
    if (line.starts_with("file\tcompleted\t")) {
      ++recorded;
      for (int field = 0; field < 2; ++field) kept.erase(kept.rfind('\t'));
    }
    old_format += kept + "\n";
  }
  WriteFile(manifest(), old_format);
  ExpectResumeMatchesAFreshRun(recorded);
}

}  // namespace
}  // namespace boardmill::testing
