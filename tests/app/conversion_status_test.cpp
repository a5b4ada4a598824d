// The conversion's status line: what it makes of the runner's counters in each phase, and the
// counters a sequential run leaves, which must agree with its report.

#include "app/conversion_status.h"

#include <gtest/gtest.h>

#include <string>

#include "conversion_run_support.h"
#include "pipeline/run_conversion.h"
#include "test_support.h"

namespace boardmill::app {
namespace {

namespace fs = std::filesystem;
using pipeline::RunProgress;

TEST(ConversionStatusTest, ConvertingEstimatesFromCompressedBytesRatherThanFiles) {
  RunProgress progress;
  progress.files_total = 4;
  progress.input_bytes_total = 4096;
  progress.AddFilesDone(1);
  progress.AddInputBytesRead(3072);
  progress.AddLines(1234567, 12);
  EXPECT_EQ(ConversionStatus(progress).Compose(30),
            "converting  files 1/4  input 3.0 KiB/4.0 KiB  positions 1.23M  invalid 12  41.2k/s  "
            "elapsed 0:30  left 0:10");
}

TEST(ConversionStatusTest, MergeSaysSoAndEstimatesFromWhenItBegan) {
  RunProgress progress;
  progress.AddLines(5000, 3);
  ConversionStatus status(progress);
  progress.StartMerge(8);
  EXPECT_EQ(status.Compose(100),
            "merging  shards 0/8  positions 5000  invalid 3  elapsed 1:40  left --");
  progress.AddShardsMerged(4);
  EXPECT_EQ(status.Compose(110),
            "merging  shards 4/8  positions 5000  invalid 3  elapsed 1:50  left 0:10");
}

TEST(ConversionStatusTest, SequentialRunLeavesTheCountersOfItsReport) {
  testing::TempDir temp;
  // Each file has one invalid line among its first lines; the line cap ends every file in the
  // middle of a batch.
  testing::MakeInputs(temp / "input", 3, 50);
  pipeline::ConversionOptions options;
  options.input_directory = temp / "input";
  options.output_directory = temp / "output";
  options.execution_mode = pipeline::ExecutionMode::kSequential;
  options.output_shard_count = 4;
  options.max_lines_per_file = 30;
  RunProgress progress;
  options.progress = &progress;

  const util::Result<pipeline::ConversionSummary> summary = pipeline::RunConversion(options);
  ASSERT_TRUE(summary) << summary.error();
  ASSERT_EQ(summary->encoded_positions, 87U);
  std::uint64_t input_bytes = 0;
  for (const fs::directory_entry& file : fs::directory_iterator(temp / "input")) {
    input_bytes += file.file_size();
  }
  EXPECT_EQ(progress.files_total.load(), 3U);
  EXPECT_EQ(progress.files_done.load(), 3U);
  EXPECT_EQ(progress.input_bytes_total.load(), input_bytes);
  EXPECT_EQ(progress.input_bytes_read.load(), summary->compressed_input_bytes);
  EXPECT_EQ(progress.positions_encoded.load(), summary->encoded_positions);
  EXPECT_EQ(progress.invalid_lines.load(), summary->invalid_positions);
}

}  // namespace
}  // namespace boardmill::app
