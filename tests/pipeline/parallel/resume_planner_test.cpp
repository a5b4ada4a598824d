#include "pipeline/parallel/resume_planner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipeline/parallel/fragment_file.h"
#include "pipeline/parallel/run_manifest.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

// Five input files; an earlier run completed the fragments of files 0-1 and 3, and recorded
// files 0 and 3 in its manifest before it was killed (file 1's record was lost).
class ResumePlannerTest : public ::testing::Test {
 protected:
  ResumePlannerTest() {
    paths_ = {temp_ / "scratch", temp_ / "run-manifest.tsv", temp_ / "rejects.tsv",
              temp_ / "scratch" / "fragments"};
    for (const char* name : {"a.fen.zst", "b.fen.zst", "c.fen.zst", "d.fen.zst", "e.fen.zst"}) {
      files_.push_back(temp_ / "in" / name);
    }
    fs::create_directories(paths_.fragments_root);
    WriteFragment({0, 2});
    WriteFragment({3, 1});
    // What an interrupted task leaves; a resumed run removes it.
    WriteFile(paths_.fragments_root / "files-000002-000002.fragment.partial", "cut");
    RecordCompleted({0, 3});
  }

  FileProcessingSummary Summary(std::uint64_t file) const {
    FileProcessingSummary summary;
    summary.file_index = file;
    summary.input_path = files_[file].filename();
    summary.visited_lines = 10 + file;
    summary.encoded_positions = 9 + file;
    return summary;
  }

  void WriteFragment(const FileGroup& group) const {
    std::vector<FileProcessingSummary> summaries;
    for (std::uint64_t file = group.first_file; file < group.first_file + group.file_count;
         ++file) {
      summaries.push_back(Summary(file));
    }
    FragmentFileWriter writer;
    ASSERT_TRUE(writer.Open(FragmentPath(paths_.fragments_root, group)));
    ASSERT_TRUE(writer.Commit(group.first_file, summaries, 0, temp_ / "in"));
  }

  void RecordCompleted(const std::vector<std::uint64_t>& completed) const {
    ConversionOptions options;
    options.input_directory = temp_ / "in";
    options.output_directory = temp_.path();
    RunManifest manifest(paths_.manifest);
    ASSERT_TRUE(manifest.Open(options, false));
    for (const std::uint64_t file : completed) {
      FileProcessingSummary summary = Summary(file);
      summary.input_path = files_[file];
      ASSERT_TRUE(manifest.AppendFileRecord(summary));
    }
  }

  const TempDir temp_;
  RunPaths paths_;
  std::vector<fs::path> files_;
};

TEST_F(ResumePlannerTest, KeepsCompleteFragmentsSkippingRecordedFilesAndRecoveringTheOthers) {
  const util::Result<ResumePlan> plan = ResumePlanner(paths_, temp_ / "in", true).Plan(files_);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_EQ(plan->kept_groups, (std::vector<FileGroup>{{0, 2}, {3, 1}}));
  EXPECT_EQ(plan->pending, (std::vector<std::uint64_t>{2, 4}));
  EXPECT_EQ(plan->skipped_files, 2U);
  EXPECT_EQ(plan->recovered, (std::vector<std::uint64_t>{1}));

  ASSERT_EQ(plan->summaries.size(), files_.size());
  for (const std::uint64_t skipped : {0, 3}) {
    EXPECT_TRUE(plan->summaries[skipped].skipped) << skipped;
    EXPECT_EQ(plan->summaries[skipped].file_index, skipped);
    EXPECT_EQ(plan->summaries[skipped].input_path, files_[skipped]);
    EXPECT_EQ(plan->summaries[skipped].visited_lines, 0U) << "counted by the run that converted it";
  }
  const FileProcessingSummary& recovered = plan->summaries[1];
  EXPECT_FALSE(recovered.skipped);
  EXPECT_EQ(recovered.input_path, files_[1]) << "the full path, not the fragment's file name";
  EXPECT_EQ(recovered.visited_lines, 11U) << "from the fragment";
  EXPECT_EQ(recovered.encoded_positions, 10U);
  EXPECT_FALSE(fs::exists(paths_.fragments_root / "files-000002-000002.fragment.partial"));
}

TEST_F(ResumePlannerTest, WithoutResumeEveryFileIsPendingAndEarlierFragmentsGo) {
  const util::Result<ResumePlan> plan = ResumePlanner(paths_, temp_ / "in", false).Plan(files_);
  ASSERT_TRUE(plan) << plan.error();
  EXPECT_TRUE(plan->kept_groups.empty());
  EXPECT_EQ(plan->pending, (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(plan->summaries.size(), files_.size());
  EXPECT_TRUE(plan->recovered.empty());
  EXPECT_EQ(plan->skipped_files, 0U);
  EXPECT_FALSE(fs::exists(paths_.fragments_root));
}

// A manifest record without its fragment: the records would be counted but the shards would lack
// the file's positions.
TEST_F(ResumePlannerTest, ARecordedFileNoFragmentHoldsIsRefused) {
  fs::remove(FragmentPath(paths_.fragments_root, {3, 1}));
  const util::Result<ResumePlan> plan = ResumePlanner(paths_, temp_ / "in", true).Plan(files_);
  ASSERT_FALSE(plan);
  EXPECT_EQ(plan.error(), "Resume requested but no fragment holds completed file index 3");
}

}  // namespace
}  // namespace boardmill::pipeline
