#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/staged/staged_pipeline_runner.h"
#include "pooled_summary_keys.h"
#include "shards/shard_naming.h"
#include "stage_pool_options.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

std::uint64_t ToCount(const std::string& text) { return std::stoull(text); }

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsCount(const std::string& text) { return AllDigits(text); }

// Fixed notation with exactly six decimals: digits, a point, six digits.
bool IsSixDecimals(const std::string& text) {
  const std::size_t point = text.find('.');
  return point != std::string::npos && AllDigits(text.substr(0, point)) &&
         text.size() == point + 7 && AllDigits(text.substr(point + 1));
}

const std::set<std::string> kStageNames = {"reader", "decompress", "line_index", "parse",
                                           "compress"};

// "hold", or a stage name, "+" and the slots added (1 or 2).
bool IsControllerAction(const std::string& action) {
  if (action == "hold") return true;
  const std::size_t plus = action.find('+');
  return plus != std::string::npos && kStageNames.count(action.substr(0, plus)) == 1 &&
         (action.substr(plus) == "+1" || action.substr(plus) == "+2");
}

// A known reason, followed by " from " and a stage name once per donor.
bool IsControllerReason(const std::string& reason) {
  static const std::set<std::string> kReasons = {"initial",
                                                 "steady",
                                                 "compress-backlog",
                                                 "decompress-starved",
                                                 "parse-starved",
                                                 "compress-starved",
                                                 "writer-saturated",
                                                 "read-backpressure",
                                                 "decompress-backpressure",
                                                 "line-index-backpressure",
                                                 "target-maxed",
                                                 "no-donor"};
  static constexpr std::string_view kFrom = " from ";
  std::size_t end = reason.find(kFrom);
  if (kReasons.count(reason.substr(0, end)) == 0) return false;
  while (end != std::string::npos) {
    const std::size_t start = end + kFrom.size();
    end = reason.find(kFrom, start);
    if (kStageNames.count(reason.substr(start, end - start)) == 0) return false;
  }
  return true;
}

// Lines of `count` copies of a few valid positions, plus one invalid line.
std::string InputText(int count) {
  static const char* kFens[] = {
      "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1",
      "r3k2r/8/8/8/8/8/8/R3K2R w KQkq - 0 1",
      "8/8/8/3k4/8/8/8/4K3 w - - 12 40",
      "4k3/8/8/8/8/8/8/4K2R w K - 0 1",
  };
  std::string text;
  for (int line = 0; line < count; ++line) text += std::string(kFens[line % 4]) + "\n";
  text += "this is no position\n";
  return text;
}

ConversionOptions ReportOptions(const fs::path& input, const fs::path& output) {
  ConversionOptions options;
  options.input_directory = input;
  options.output_directory = output;
  options.output_shard_count = 8;
  options.compression_level = 3;
  options.records_per_flush = 512;
  SetEveryStagePool(options, 2);
  options.decompress_workers = 3;
  options.line_batch_size = 1000;
  options.parse_batch_size = 50;
  options.max_threads = 6;
  options.execution_mode = ExecutionMode::kStaged;
  return options;
}

class StagedReportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteZstdFile(dir_ / "in/a.fen.zst", InputText(400));
    WriteZstdFile(dir_ / "in/b.fen.zst", InputText(250));
    WriteZstdFile(dir_ / "in/c.fen.zst", InputText(10));
  }

  ConversionSummary Run(const ConversionOptions& options) {
    const util::Result<ConversionSummary> summary = RunStaged(options);
    EXPECT_TRUE(summary.ok()) << summary.error();
    return summary ? *summary : ConversionSummary{};
  }

  TempDir dir_;
};

TEST_F(StagedReportsTest, StageStatsHoldOneRowPerStageWithConsistentCounters) {
  const ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  const ConversionSummary summary = Run(options);
  const std::vector<std::string> lines = ReadLines(options.output_directory / "stage-stats.tsv");
  ASSERT_EQ(lines.size(), 7U);
  EXPECT_EQ(lines[0],
            "stage\tworkers\titems_in\titems_out\tbytes_in\tbytes_out\tbatches\tbusy_seconds\t"
            "idle_seconds\tblocked_empty_seconds\tblocked_full_seconds\tblocked_order_seconds\t"
            "queue_samples\tqueue_depth_avg\tqueue_depth_max");
  const std::vector<std::string> names = {"reader", "decompress", "line_index",
                                          "parse",  "compress",   "write"};
  const std::vector<std::uint64_t> workers = {2, 3, 2, 2, 2, 8};
  std::vector<std::vector<std::string>> rows;
  for (std::size_t row = 0; row < names.size(); ++row) {
    rows.push_back(SplitTabs(lines[row + 1]));
    const std::vector<std::string>& fields = rows.back();
    ASSERT_EQ(fields.size(), 15U) << lines[row + 1];
    EXPECT_EQ(fields[0], names[row]);
    EXPECT_EQ(ToCount(fields[1]), workers[row]);
    for (const std::size_t column : {2, 3, 4, 5, 6, 12, 14}) EXPECT_TRUE(IsCount(fields[column]));
    for (const std::size_t column : {7, 8, 9, 10, 11, 13}) {
      EXPECT_TRUE(IsSixDecimals(fields[column])) << names[row] << " column " << column;
    }
  }
  const auto value = [&](std::size_t stage, std::size_t column) {
    return ToCount(rows[stage][column]);
  };
  EXPECT_EQ(value(0, 2), 3U);  // reader: files in
  EXPECT_EQ(value(0, 4), summary.compressed_input_bytes);
  EXPECT_EQ(value(1, 5), summary.decompressed_input_bytes);
  EXPECT_EQ(value(3, 2), summary.visited_lines);
  EXPECT_EQ(value(3, 3), summary.encoded_positions);
  EXPECT_EQ(value(3, 5), summary.raw_output_bytes);
  EXPECT_EQ(value(3, 6), (401 + 49) / 50 + (251 + 49) / 50 + 1);  // line batches parsed
  EXPECT_EQ(value(4, 2), summary.encoded_positions);
  EXPECT_EQ(value(5, 5), summary.compressed_output_bytes);
  std::uint64_t shard_bytes = 0;
  for (std::uint64_t shard = 0; shard < 8; ++shard) {
    shard_bytes += fs::file_size(shards::ShardPath(options.output_directory, shard, 8));
  }
  EXPECT_EQ(summary.compressed_output_bytes, shard_bytes);
  const std::uint64_t samples = ReadLines(options.output_directory / "queue-stats.tsv").size() - 1;
  for (std::size_t stage = 0; stage < rows.size(); ++stage) EXPECT_EQ(value(stage, 12), samples);
}

TEST_F(StagedReportsTest, WorkerStatsListEveryThreadInStageAndIndexOrderAllFinished) {
  const ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  const ConversionSummary summary = Run(options);
  const std::vector<std::string> lines = ReadLines(options.output_directory / "worker-stats.tsv");
  ASSERT_EQ(lines.size(), 1U + 2 + 3 + 2 + 2 + 2 + 8);
  EXPECT_EQ(lines[0],
            "stage\tworker_id\tstate\tbatches\titems_in\titems_out\tbytes_in\tbytes_out\t"
            "max_batch_items\tmax_batch_bytes\tbusy_seconds\tidle_seconds\tblocked_empty_seconds\t"
            "blocked_full_seconds\tblocked_order_seconds");
  const std::vector<std::pair<std::string, std::uint64_t>> expected = {
      {"reader", 2}, {"decompress", 3}, {"line_index", 2},
      {"parse", 2},  {"compress", 2},   {"write", 8}};
  std::size_t line = 1;
  std::uint64_t parsed_lines = 0;
  std::uint64_t largest_parse_batch = 0;
  for (const auto& [stage, count] : expected) {
    for (std::uint64_t worker = 0; worker < count; ++worker, ++line) {
      const std::vector<std::string> fields = SplitTabs(lines[line]);
      ASSERT_EQ(fields.size(), 15U) << lines[line];
      EXPECT_EQ(fields[0], stage);
      EXPECT_EQ(ToCount(fields[1]), worker);
      EXPECT_EQ(fields[2], "finished");
      for (std::size_t column = 10; column < 15; ++column)
        EXPECT_TRUE(IsSixDecimals(fields[column]));
      if (stage == "parse") {
        parsed_lines += ToCount(fields[4]);
        largest_parse_batch = std::max(largest_parse_batch, ToCount(fields[8]));
      }
    }
  }
  EXPECT_EQ(parsed_lines, summary.visited_lines);
  EXPECT_EQ(largest_parse_batch, 50U);
}

TEST_F(StagedReportsTest, QueueStatsSampleFromTheStartToTheDrainedEnd) {
  const ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  Run(options);
  const std::vector<std::string> lines = ReadLines(options.output_directory / "queue-stats.tsv");
  EXPECT_EQ(lines.at(0),
            "elapsed_seconds\tfile_queue_depth\tdecompress_queue_depth\tline_index_queue_depth\t"
            "parse_queue_depth\tcompress_queue_depth\twriter_backlog_blocks");
  ASSERT_GE(lines.size(), 3U);  // the first sample, at least one after 200 ms, the last one
  double previous = -1.0;
  for (std::size_t line = 1; line < lines.size(); ++line) {
    const std::vector<std::string> fields = SplitTabs(lines[line]);
    ASSERT_EQ(fields.size(), 7U);
    ASSERT_TRUE(IsSixDecimals(fields[0]));
    EXPECT_GE(std::stod(fields[0]), previous);
    previous = std::stod(fields[0]);
  }
  EXPECT_EQ(SplitTabs(lines.back()),
            (std::vector<std::string>{lines.back().substr(0, lines.back().find('\t')), "0", "0",
                                      "0", "0", "0", "0"}));
}

TEST_F(StagedReportsTest, ControllerStatsWithoutAutotuneIsTheSingleAutotuneDisabledRow) {
  const ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  Run(options);
  const std::vector<std::string> lines =
      ReadLines(options.output_directory / "controller-stats.tsv");
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(
      lines[0],
      "elapsed_seconds\tactive_reader_workers\tactive_decompress_workers\t"
      "active_line_index_workers\tactive_parse_workers\tactive_compress_workers\tfile_queue_depth\t"
      "decompress_queue_depth\tline_index_queue_depth\tparse_queue_depth\tcompress_queue_depth\t"
      "writer_backlog_blocks\treader_busy_ratio\treader_empty_ratio\treader_full_ratio\t"
      "decompress_busy_ratio\tdecompress_empty_ratio\tdecompress_full_ratio\t"
      "line_index_busy_ratio\tline_index_empty_ratio\tline_index_full_ratio\tparse_busy_ratio\t"
      "parse_empty_ratio\tparse_full_ratio\tcompress_busy_ratio\tcompress_empty_ratio\t"
      "compress_full_ratio\twrite_busy_ratio\treader_items_out\tdecompress_items_out\t"
      "line_index_items_out\tparse_items_out\tcompress_items_out\twrite_items_out\taction\treason");
  std::string expected = "0.000000\t2\t3\t2\t2\t2\t3\t0\t0\t0\t0\t0";
  for (int ratio = 0; ratio < 16; ++ratio) expected += "\t0.000000";
  for (int delta = 0; delta < 6; ++delta) expected += "\t0";
  expected += "\thold\tautotune-disabled";
  EXPECT_EQ(lines[1], expected);
}

TEST_F(StagedReportsTest, ControllerStatsWithAutotuneStartWithTheInitialRowAndRecordEveryTick) {
  for (int file = 0; file < 6; ++file) {
    WriteZstdFile(dir_ / "in" / NumberedName("more-", file, ".fen.zst"), InputText(3000));
  }
  ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  options.enable_autotune = true;
  options.tuning_interval_seconds = 0.0;  // raised to the 0.25 s floor
  options.parse_batch_size = 5;
  Run(options);
  const std::vector<std::string> lines =
      ReadLines(options.output_directory / "controller-stats.tsv");
  ASSERT_GE(lines.size(), 2U);
  const std::vector<std::string> initial = SplitTabs(lines[1]);
  ASSERT_EQ(initial.size(), 36U);
  EXPECT_EQ(initial[34], "hold");
  EXPECT_EQ(initial[35], "initial");
  for (std::size_t line = 1; line < lines.size(); ++line) {
    const std::vector<std::string> fields = SplitTabs(lines[line]);
    ASSERT_EQ(fields.size(), 36U) << lines[line];
    EXPECT_TRUE(IsSixDecimals(fields[0]));
    for (std::size_t column = 12; column < 28; ++column) EXPECT_TRUE(IsSixDecimals(fields[column]));
    EXPECT_TRUE(IsControllerAction(fields[34])) << fields[34];
    EXPECT_TRUE(IsControllerReason(fields[35])) << fields[35];
    std::uint64_t active_sum = 0;
    for (std::size_t column = 1; column <= 5; ++column) {
      EXPECT_GE(ToCount(fields[column]), 1U);
      active_sum += ToCount(fields[column]);
    }
    EXPECT_LE(active_sum, 2U + 3 + 2 + 2 + 2);
  }
}

TEST_F(StagedReportsTest, RunSummaryListsTheStagedKeysInOrderWithSixDecimals) {
  const ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  const ConversionSummary summary = Run(options);
  const std::vector<std::string> lines = ReadLines(options.output_directory / "run-summary.txt");
  const std::vector<std::string> keys = PooledSummaryKeys(ExecutionMode::kStaged);
  ASSERT_EQ(lines.size(), keys.size());
  std::map<std::string, std::string> values;
  for (std::size_t line = 0; line < keys.size(); ++line) {
    const std::size_t equals = lines[line].find('=');
    ASSERT_NE(equals, std::string::npos);
    EXPECT_EQ(lines[line].substr(0, equals), keys[line]);
    values[keys[line]] = lines[line].substr(equals + 1);
  }
  const std::map<std::string, std::string> expected = {
      {"execution_mode", "staged"},
      {"records_per_flush", "512"},
      {"decompress_worker_count", "3"},
      {"writer_worker_count", "8"},
      {"line_batch_size", "1000"},
      {"parse_batch_size", "50"},
      {"visited_lines", std::to_string(401 + 251 + 11)},
      {"invalid_positions", "3"},
      {"reject_log_entries", "3"},
      {"requested_worker_cap", "6"},
      {"pending_file_cap", "3"},
      {"final_active_workers", "11"},
      {"merge_seconds", "0.000000"},
      {"stage_stats_path", (options.output_directory / "stage-stats.tsv").string()},
      {"reject_log_path", (options.output_directory / "rejects.tsv").string()}};
  for (const auto& [key, value] : expected) EXPECT_EQ(values[key], value) << key;
  for (const char* key :
       {"elapsed_seconds", "read_seconds", "decompress_seconds", "split_seconds", "encode_seconds",
        "compress_seconds", "write_seconds", "effective_fens_per_second"}) {
    EXPECT_TRUE(IsSixDecimals(values[key])) << key << "=" << values[key];
  }
  EXPECT_EQ(summary.final_active_workers, 11U);
}

TEST_F(StagedReportsTest, AStatisticsFileThatCannotBeOpenedIsSkippedAndTheRunSucceeds) {
  const ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  fs::create_directories(options.output_directory / "queue-stats.tsv");
  fs::create_directories(options.output_directory / "run-summary.txt");
  const util::Result<ConversionSummary> summary = RunStaged(options);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_TRUE(fs::is_directory(options.output_directory / "queue-stats.tsv"));
  EXPECT_TRUE(fs::is_regular_file(options.output_directory / "stage-stats.tsv"));
  EXPECT_TRUE(fs::is_regular_file(options.output_directory / "controller-stats.tsv"));
}

// Failure paths: the first error comes back, every thread has been joined (the call returns),
// and neither statistics files nor a run summary are written.
class StagedFailureTest : public StagedReportsTest {
 protected:
  void ExpectFailure(const ConversionOptions& options, const std::string& message_prefix) {
    const util::Result<ConversionSummary> summary = RunStaged(options);
    ASSERT_FALSE(summary.ok());
    EXPECT_EQ(summary.error().rfind(message_prefix, 0), 0U) << summary.error();
    for (const char* name : {"stage-stats.tsv", "worker-stats.tsv", "queue-stats.tsv",
                             "controller-stats.tsv", "run-summary.txt"}) {
      EXPECT_FALSE(fs::exists(options.output_directory / name)) << name;
    }
  }

  // Many files and one-line batches, so that every stage is busy when the failure comes.
  void AddBusyFiles() {
    for (int file = 0; file < 12; ++file) {
      WriteZstdFile(dir_ / "in" / NumberedName("z-", file, ".fen.zst"), InputText(600));
    }
  }

  std::vector<ConversionOptions> ThreadVariants(const std::string& name) {
    std::vector<ConversionOptions> variants;
    for (const std::uint64_t workers : {std::uint64_t{1}, std::uint64_t{0}, std::uint64_t{3}}) {
      ConversionOptions options =
          ReportOptions(dir_ / "in", dir_ / (name + std::to_string(workers)));
      SetEveryStagePool(options, workers);
      options.parse_batch_size = 1;
      variants.push_back(options);
    }
    return variants;
  }

  // Every thread variant of the run fails with `message`.
  void ExpectEveryVariantFails(const std::string& name, const std::string& message) {
    for (const ConversionOptions& options : ThreadVariants(name)) {
      SCOPED_TRACE(options.output_directory.string());
      ExpectFailure(options, message);
    }
  }
};

TEST_F(StagedFailureTest, ACorruptInputFileEndsTheRunWithTheDecompressionError) {
  AddBusyFiles();
  WriteFile(dir_ / "in/m-corrupt.fen.zst", "this is not a zstandard frame at all");
  ExpectEveryVariantFails("corrupt", "Failed to decode input file " +
                                         (dir_ / "in/m-corrupt.fen.zst").string() +
                                         ": Zstd decompression failed: ");
}

TEST_F(StagedFailureTest, ATruncatedInputFileEndsTheRunWithTheTruncationError) {
  AddBusyFiles();
  WriteZstdFile(dir_ / "whole.fen.zst", InputText(500));
  const std::string whole = ReadFile(dir_ / "whole.fen.zst");
  WriteFile(dir_ / "in/m-truncated.fen.zst", whole.substr(0, whole.size() / 2));
  ExpectEveryVariantFails(
      "truncated", "Failed to decode input file " + (dir_ / "in/m-truncated.fen.zst").string() +
                       ": Zstd decompression ended before the frame was fully decoded.");
}

TEST_F(StagedFailureTest, AnUnreadableInputFileEndsTheRunWithTheReaderError) {
  // sysfs refuses to open a write-only attribute for reading, even to root.
  const fs::path write_only = "/sys/bus/pci/rescan";
  if (!fs::exists(write_only)) GTEST_SKIP() << write_only << " is not available";
  AddBusyFiles();
  fs::create_symlink(write_only, dir_ / "in/m-unreadable.fen.zst");
  ExpectEveryVariantFails(
      "unreadable", "Failed to open input file " + (dir_ / "in/m-unreadable.fen.zst").string());
}

TEST_F(StagedFailureTest, AShardThatCannotBeOpenedEndsTheRunWithItsPath) {
  AddBusyFiles();
  for (const ConversionOptions& options : ThreadVariants("blocked")) {
    const fs::path shard = shards::ShardPath(options.output_directory, 5, 8);
    fs::create_directories(shard);
    ExpectFailure(options, "Failed to open staged shard output: " + shard.string());
  }
}

// The earlier run's summary would make the directory of shards that this run left half written
// look finished, so it goes; its statistics files are only reports and stay as they were.
TEST_F(StagedFailureTest, AFailedRunRemovesTheSummaryOfAnEarlierRunAndKeepsItsStatistics) {
  ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  WriteFile(options.output_directory / "run-summary.txt", "earlier\n");
  WriteFile(options.output_directory / "stage-stats.tsv", "earlier\n");
  WriteFile(dir_ / "in/m-corrupt.fen.zst", "garbage");
  ASSERT_FALSE(RunStaged(options).ok());
  EXPECT_FALSE(fs::exists(options.output_directory / "run-summary.txt"));
  EXPECT_EQ(ReadFile(options.output_directory / "stage-stats.tsv"), "earlier\n");
}

TEST_F(StagedFailureTest, ResumeIsRefusedBeforeAnythingIsCreated) {
  ConversionOptions options = ReportOptions(dir_ / "in", dir_ / "out");
  options.resume = true;
  const util::Result<ConversionSummary> summary = RunStaged(options);
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error(), "Staged mode does not support resume yet.");
  EXPECT_FALSE(fs::exists(options.output_directory));
}

TEST_F(StagedFailureTest, SetupErrorsComeBackUnchanged) {
  ConversionOptions missing = ReportOptions(dir_ / "no-such-dir", dir_ / "out-missing");
  EXPECT_FALSE(RunStaged(missing).ok());

  ConversionOptions blocked_output = ReportOptions(dir_ / "in", dir_ / "file/out");
  WriteFile(dir_ / "file", "a file where a directory should be");
  const util::Result<ConversionSummary> output = RunStaged(blocked_output);
  ASSERT_FALSE(output.ok());
  EXPECT_EQ(output.error().rfind("Failed to create output directory: ", 0), 0U) << output.error();

  ConversionOptions blocked_log = ReportOptions(dir_ / "in", dir_ / "out-log");
  blocked_log.reject_log_path = dir_ / "log-dir";
  fs::create_directories(blocked_log.reject_log_path);
  const util::Result<ConversionSummary> log = RunStaged(blocked_log);
  ASSERT_FALSE(log.ok());
  EXPECT_EQ(log.error(), "Failed to open reject log: " + (dir_ / "log-dir").string());
}

}  // namespace
}  // namespace boardmill::pipeline
