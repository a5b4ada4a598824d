#include "pipeline/staged/staged_pipeline_runner.h"

#include <gtest/gtest.h>
#include <zstd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "conversion_run_support.h"
#include "pipeline/run_conversion.h"
#include "pipeline/sequential/sequential_runner.h"
#include "shards/shard_naming.h"
#include "shards/shard_router.h"
#include "stage_pool_options.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

// A valid FEN whose eighth rank is occupied by the bits of `rank8` (a8 = 0x80), so it routes by
// that byte, and whose move counters depend on `serial`, so every line encodes differently.
std::string TestFen(std::uint64_t rank8, std::uint64_t serial) {
  static constexpr char kBackRank[] = "rnbqkbnr";
  std::string squares;
  for (int file = 0; file < 8; ++file) {
    squares += ((rank8 >> (7 - file)) & 1U) != 0 ? kBackRank[file] : ' ';
  }
  const bool king_on_e8 = ((rank8 >> 3) & 1U) != 0;
  return FenRank(squares) + "/8/8/" + (king_on_e8 ? "8" : "k7") + "/8/8/8/4K3 w - - " +
         std::to_string(serial % 100) + " " + std::to_string(1 + serial % 900);
}

// `count` lines from serial `first`, spread over all 256 routing keys, with the noise a reader
// must cope with: invalid lines (one holding a tab), blank lines, carriage returns, and no line
// feed after the last line.
std::string TestText(std::uint64_t first, std::uint64_t count) {
  std::string text;
  for (std::uint64_t serial = first; serial < first + count; ++serial) {
    if (serial % 41 == 7) {
      text += NumberedName("not a position ", serial, "\tx\n");
      continue;
    }
    if (serial % 53 == 3) text += "\n\r\n";
    text += TestFen((serial * 167) % 256, serial);
    text += serial % 5 == 0 ? "\r\n" : "\n";
  }
  if (!text.empty()) text.pop_back();
  return text;
}

// Line counts per input file; the empty one is a valid frame holding no text.
const std::vector<std::uint64_t> kFileLines = {900, 0, 1700, 37, 1300, 450};

void WriteInputs(const fs::path& directory, const std::vector<std::uint64_t>& lines) {
  std::uint64_t serial = 0;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    WriteZstdFile(directory / NumberedName("part-", index, ".fen.zst"),
                  TestText(serial, lines[index]));
    serial += lines[index];
  }
  WriteFile(directory / "ignored.txt", "not an input\n");
}

ConversionOptions StagedOptions(const fs::path& input, const fs::path& output,
                                std::uint64_t shards) {
  ConversionOptions options;
  options.input_directory = input;
  options.output_directory = output;
  options.output_shard_count = shards;
  options.compression_level = 1;
  options.execution_mode = ExecutionMode::kStaged;
  options.line_batch_size = 262144;
  options.parse_batch_size = 262144;
  return options;
}

// Shared inputs, with the sequential mode's output for each shard count computed once.
class StagedRunnerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inputs_ = new TempDir();
    WriteInputs(inputs_->path() / "in", kFileLines);
  }
  static void TearDownTestSuite() {
    delete inputs_;
    inputs_ = nullptr;
    expected_.clear();
    sequential_summaries_.clear();
  }

  static fs::path InputDirectory() { return inputs_->path() / "in"; }

  static const std::vector<std::string>& SequentialShards(std::uint64_t shards) {
    auto found = expected_.find(shards);
    if (found != expected_.end()) return found->second;
    ConversionOptions options =
        StagedOptions(InputDirectory(), inputs_->path() / NumberedName("seq-", shards, ""), shards);
    options.execution_mode = ExecutionMode::kSequential;
    options.line_batch_size = 4096;
    util::Result<ConversionSummary> summary = RunSequential(options);
    EXPECT_TRUE(summary.ok()) << summary.error();
    if (summary) sequential_summaries_[shards] = *summary;
    return expected_[shards] = DecompressedShards(options.output_directory, shards);
  }

  // Runs the staged mode and checks every shard's content against the sequential mode's.
  ConversionSummary ExpectSameShardsAsSequential(const ConversionOptions& options) {
    const std::uint64_t shards = options.output_shard_count;
    const std::vector<std::string>& expected = SequentialShards(shards);
    util::Result<ConversionSummary> summary = RunStaged(options);
    EXPECT_TRUE(summary.ok()) << summary.error();
    if (!summary) return {};
    const std::vector<std::string> actual = DecompressedShards(options.output_directory, shards);
    EXPECT_EQ(actual.size(), expected.size());
    for (std::size_t shard = 0; shard < std::min(actual.size(), expected.size()); ++shard) {
      EXPECT_EQ(actual[shard].size(), expected[shard].size()) << "shard " << shard;
      EXPECT_TRUE(actual[shard] == expected[shard]) << "shard " << shard << " differs";
    }
    const ConversionSummary& sequential = sequential_summaries_[shards];
    EXPECT_EQ(summary->visited_lines, sequential.visited_lines);
    EXPECT_EQ(summary->encoded_positions, sequential.encoded_positions);
    EXPECT_EQ(summary->invalid_positions, sequential.invalid_positions);
    EXPECT_EQ(summary->reject_log_entries, sequential.invalid_positions);
    EXPECT_EQ(summary->raw_output_bytes, sequential.raw_output_bytes);
    EXPECT_EQ(summary->decompressed_input_bytes, sequential.decompressed_input_bytes);
    return *summary;
  }

  fs::path Output(const std::string& name) const { return scratch_.path() / name; }

  TempDir scratch_;
  static TempDir* inputs_;
  static std::map<std::uint64_t, std::vector<std::string>> expected_;
  static std::map<std::uint64_t, ConversionSummary> sequential_summaries_;
};

TempDir* StagedRunnerTest::inputs_ = nullptr;
std::map<std::uint64_t, std::vector<std::string>> StagedRunnerTest::expected_;
std::map<std::uint64_t, ConversionSummary> StagedRunnerTest::sequential_summaries_;

struct StagedCase {
  const char* name;
  std::uint64_t shards;
  std::uint64_t max_threads;
  std::uint64_t workers;  // every stage's worker count; 0: the defaults
  std::uint64_t parse_batch;
  bool autotune;
  bool fast_encoder;
};

TEST_F(StagedRunnerTest, ShardsMatchSequentialModeAcrossThreadCountsBatchSizesAndShardCounts) {
  const StagedCase cases[] = {
      {"defaults, 16 shards", 16, 0, 0, 262144, false, true},
      {"two threads", 16, 2, 0, 262144, false, true},
      {"one of everything, small batches", 16, 2, 1, 7, false, true},
      {"three of everything", 16, 0, 3, 97, false, true},
      {"eight threads, batches of one line", 16, 8, 0, 1, false, true},
      {"autotune", 16, 5, 0, 64, true, true},
      {"general encoder", 16, 3, 0, 200, false, false},
      {"one shard", 1, 4, 2, 128, false, true},
      {"256 shards", 256, 6, 0, 300, false, true},
      {"300 shards", 300, 4, 0, 500, true, true},
  };
  int index = 0;
  for (const StagedCase& c : cases) {
    SCOPED_TRACE(c.name);
    ConversionOptions options =
        StagedOptions(InputDirectory(), Output(NumberedName("out-", index++, "")), c.shards);
    options.max_threads = c.max_threads;
    SetEveryStagePool(options, c.workers);
    options.parse_batch_size = c.parse_batch;
    options.enable_autotune = c.autotune;
    options.tuning_interval_seconds = 0.25;
    options.enable_fast_encoder = c.fast_encoder;
    const ConversionSummary summary = ExpectSameShardsAsSequential(options);
    EXPECT_EQ(summary.execution_mode, ExecutionMode::kStaged);
    EXPECT_EQ(summary.input_file_count, kFileLines.size());
    EXPECT_EQ(summary.output_file_count, c.shards);
    EXPECT_EQ(summary.writer_worker_count, c.shards);
    EXPECT_EQ(summary.final_parse_batch_size, c.parse_batch);
  }
}

TEST_F(StagedRunnerTest, ShardsAboveTheRoutingKeyRangeAreCreatedEmpty) {
  const ConversionOptions options = StagedOptions(InputDirectory(), Output("out"), 300);
  ExpectSameShardsAsSequential(options);
  for (std::uint64_t shard = shards::kRoutingKeyCount; shard < 300; ++shard) {
    const fs::path path = shards::ShardPath(options.output_directory, shard, 300);
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(fs::file_size(path), 0U) << path;
  }
}

TEST_F(StagedRunnerTest, MaxFilesAndMaxLinesPerFileCutTheInputLikeTheSequentialMode) {
  for (const std::uint64_t parse_batch : {std::uint64_t{5}, std::uint64_t{1000}}) {
    SCOPED_TRACE(parse_batch);
    ConversionOptions staged =
        StagedOptions(InputDirectory(), Output(NumberedName("staged-", parse_batch, "")), 8);
    staged.max_input_files = 4;
    staged.max_lines_per_file = 333;
    staged.parse_batch_size = parse_batch;
    ConversionOptions sequential = staged;
    sequential.output_directory = Output(NumberedName("seq-", parse_batch, ""));
    sequential.execution_mode = ExecutionMode::kSequential;
    sequential.line_batch_size = 100;

    const util::Result<ConversionSummary> expected = RunSequential(sequential);
    ASSERT_TRUE(expected.ok()) << expected.error();
    const util::Result<ConversionSummary> actual = RunStaged(staged);
    ASSERT_TRUE(actual.ok()) << actual.error();
    EXPECT_EQ(actual->input_file_count, 4U);
    EXPECT_EQ(actual->visited_lines, expected->visited_lines);
    EXPECT_EQ(actual->encoded_positions, expected->encoded_positions);
    EXPECT_EQ(DecompressedShards(staged.output_directory, 8),
              DecompressedShards(sequential.output_directory, 8));
  }
}

// Counts the Zstandard frames of a file.
std::uint64_t FrameCount(const fs::path& path) {
  const std::string bytes = ReadFile(path);
  std::uint64_t frames = 0;
  for (std::size_t offset = 0; offset < bytes.size(); ++frames) {
    const std::size_t size =
        ZSTD_findFrameCompressedSize(bytes.data() + offset, bytes.size() - offset);
    if (ZSTD_isError(size)) {
      ADD_FAILURE() << path << ": " << ZSTD_getErrorName(size);
      return 0;
    }
    offset += size;
  }
  return frames;
}

TEST(StagedRunnerBlocks, AShardIsOneFramePerFourMebibyteBlockInInputOrder) {
  // 200000 records of 32 bytes into one shard: a block holds 4 MiB (131072 records), so the
  // shard holds two frames; a small shard holds one.
  TempDir dir;
  std::string first;
  std::string second;
  for (std::uint64_t serial = 0; serial < 200000; ++serial) {
    (serial < 120000 ? first : second) += TestFen(0x81, serial) + "\n";
  }
  WriteZstdFile(dir / "in/a.fen.zst", first);
  WriteZstdFile(dir / "in/b.fen.zst", second);
  WriteZstdFile(dir / "in/c.fen.zst", TestFen(0, 1) + "\n");

  ConversionOptions staged = StagedOptions(dir / "in", dir / "staged", 2);
  staged.parse_batch_size = 10000;
  staged.max_threads = 4;
  ConversionOptions sequential = staged;
  sequential.output_directory = dir / "sequential";
  sequential.line_batch_size = 4096;
  const util::Result<ConversionSummary> actual = RunStaged(staged);
  ASSERT_TRUE(actual.ok()) << actual.error();
  ASSERT_TRUE(RunSequential(sequential).ok());

  EXPECT_EQ(FrameCount(shards::ShardPath(staged.output_directory, 1, 2)), 2U);
  EXPECT_EQ(FrameCount(shards::ShardPath(staged.output_directory, 0, 2)), 1U);
  EXPECT_EQ(DecompressedShards(staged.output_directory, 2),
            DecompressedShards(sequential.output_directory, 2));
}

TEST(StagedRunnerEmptyInput, NoInputFilesStillCreatesEveryShardAndTheReports) {
  TempDir dir;
  fs::create_directories(dir / "in");
  const ConversionOptions options = StagedOptions(dir / "in", dir / "out", 4);
  const util::Result<ConversionSummary> summary = RunStaged(options);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(summary->input_file_count, 0U);
  EXPECT_EQ(summary->visited_lines, 0U);
  for (std::uint64_t shard = 0; shard < 4; ++shard) {
    const fs::path path = shards::ShardPath(options.output_directory, shard, 4);
    ASSERT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0U);
  }
  for (const char* name : {"stage-stats.tsv", "worker-stats.tsv", "queue-stats.tsv",
                           "controller-stats.tsv", "run-summary.txt", "rejects.tsv"}) {
    EXPECT_TRUE(fs::exists(options.output_directory / name)) << name;
  }
  EXPECT_EQ(ReadLines(options.output_directory / "rejects.tsv"),
            std::vector<std::string>{"input_path\tline_number\terror\tfen"});
}

// The counters a status line reads end where the summary does, with or without a line cap,
// which stops files early.
TEST_F(StagedRunnerTest, ProgressCountersEndAtTheSummaryTotals) {
  std::uint64_t input_bytes = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(InputDirectory())) {
    if (entry.path().string().ends_with(".fen.zst")) input_bytes += entry.file_size();
  }
  for (const std::uint64_t cap : {std::uint64_t{0}, std::uint64_t{333}}) {
    SCOPED_TRACE(cap);
    RunProgress progress;
    ConversionOptions options =
        StagedOptions(InputDirectory(), Output(NumberedName("out-", cap, "")), 16);
    options.max_lines_per_file = cap;
    options.parse_batch_size = 97;
    options.progress = &progress;
    const util::Result<ConversionSummary> summary = RunStaged(options);
    ASSERT_TRUE(summary.ok()) << summary.error();
    EXPECT_EQ(progress.files_total.load(), kFileLines.size());
    EXPECT_EQ(progress.input_bytes_total.load(), input_bytes);
    EXPECT_EQ(progress.files_done.load(), kFileLines.size());
    EXPECT_EQ(progress.input_bytes_read.load(), summary->compressed_input_bytes);
    EXPECT_EQ(progress.positions_encoded.load(), summary->encoded_positions);
    EXPECT_EQ(progress.invalid_lines.load(), summary->invalid_positions);
  }
}

TEST_F(StagedRunnerTest, RejectedLinesAreLoggedWithFileLineNumberAndSanitizedText) {
  const ConversionOptions options = StagedOptions(InputDirectory(), Output("out"), 4);
  const util::Result<ConversionSummary> summary = RunStaged(options);
  ASSERT_TRUE(summary.ok()) << summary.error();
  const std::vector<std::string> rows = ReadLines(options.output_directory / "rejects.tsv");
  ASSERT_EQ(rows.size(), summary->invalid_positions + 1);
  ASSERT_GT(summary->invalid_positions, 0U);
  // Serial 7 is the eighth line of the first file; no blank line precedes it.
  const std::string first_row_prefix = (InputDirectory() / "part-0.fen.zst").string() + "\t8\t";
  bool found = false;
  for (const std::string& row : rows) {
    if (row.rfind(first_row_prefix, 0) == 0) {
      found = true;
      EXPECT_NE(row.find("\tnot a position 7 x"), std::string::npos) << row;
      EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 3) << row;
    }
  }
  EXPECT_TRUE(found);
}

TEST_F(StagedRunnerTest, RunConversionDispatchesTheStagedModeWithItsBatchDefaults) {
  ConversionOptions options = StagedOptions(InputDirectory(), Output("out"), 16);
  options.line_batch_size = 0;
  options.parse_batch_size = 0;
  const util::Result<ConversionSummary> summary = RunConversion(options);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(summary->execution_mode, ExecutionMode::kStaged);
  EXPECT_EQ(summary->final_parse_batch_size, 262144U);
  EXPECT_TRUE(fs::exists(Output("out") / "stage-stats.tsv"));
  EXPECT_EQ(DecompressedShards(Output("out"), 16), SequentialShards(16));
}

}  // namespace
}  // namespace boardmill::pipeline
