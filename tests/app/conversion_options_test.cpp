// Option parsing, mode and batch-size resolution, option limits, the checks the sequential
// runner makes before it starts, run-summary.txt and the console report.

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

#include "app/convert_command.h"
#include "app/convert_options.h"
#include "app/sample_options.h"
#include "app/verify_options.h"
#include "pipeline/option_limits.h"
#include "pipeline/run_conversion.h"
#include "pipeline/sequential/sequential_runner.h"
#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using pipeline::ConversionOptions;
using pipeline::ExecutionMode;
using testing::ReadFile;
using testing::TempDir;

constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();

// argv for `boardmill <command> in out <options...>` (or other positional arguments); the
// strings live as long as the object.
class CommandLine {
 public:
  CommandLine(const std::string& command, const std::vector<std::string>& options,
              const std::vector<std::string>& positionals = {"in", "out"}) {
    words_ = {"boardmill", command};
    words_.insert(words_.end(), positionals.begin(), positionals.end());
    words_.insert(words_.end(), options.begin(), options.end());
    for (std::string& word : words_) pointers_.push_back(word.data());
  }
  int argc() { return static_cast<int>(pointers_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

std::optional<app::ConvertCommandLine> ParseConvert(const std::vector<std::string>& options) {
  CommandLine line("convert", options);
  app::ConvertCommandLine parsed;
  if (!app::ParseConvertOptions(line.argc(), line.argv(), parsed)) return std::nullopt;
  return parsed;
}

// What `option text` sets the convert setting `kSetting` to; nullopt when the line is refused.
template <auto kSetting>
auto ParsedSetting(const std::string& option, const std::string& text) {
  using Value = std::remove_cvref_t<decltype(ConversionOptions().*kSetting)>;
  const auto parsed = ParseConvert({option, text});
  return parsed ? std::optional<Value>(parsed->settings.*kSetting) : std::nullopt;
}

std::optional<app::SampleCommandLine> ParseSample(const std::vector<std::string>& options) {
  CommandLine line("sample-fens", options);
  app::SampleCommandLine parsed;
  if (!app::ParseSampleOptions(line.argc(), line.argv(), parsed)) return std::nullopt;
  return parsed;
}

std::optional<app::VerifyCommandLine> ParseVerify(const std::vector<std::string>& options) {
  CommandLine line("verify-shards", options, {"out"});
  app::VerifyCommandLine parsed;
  if (!app::ParseVerifyOptions(line.argc(), line.argv(), parsed)) return std::nullopt;
  return parsed;
}

TEST(ConvertOptionsTest, TwoDirectoriesAloneGiveTheDefaults) {
  const auto parsed = ParseConvert({});
  ASSERT_TRUE(parsed.has_value());
  const ConversionOptions options = app::ToConversionOptions(*parsed);
  EXPECT_EQ(options.input_directory, fs::path("in"));
  EXPECT_EQ(options.output_directory, fs::path("out"));
  EXPECT_EQ(options.output_shard_count, 256U);
  EXPECT_EQ(options.compression_level, 8);
  EXPECT_EQ(options.records_per_flush, 4096U);
  EXPECT_EQ(options.min_workers, 1U);
  EXPECT_EQ(options.memory_ceiling_mib, 0U);
  EXPECT_EQ(options.min_free_space_bytes, 10737418240U);
  EXPECT_EQ(options.tuning_interval_seconds, 1.0);
  EXPECT_TRUE(options.enable_fast_encoder);
  EXPECT_TRUE(options.precreate_shards);
  EXPECT_FALSE(options.enable_autotune || options.verify_output || options.resume ||
               options.keep_scratch);
  EXPECT_EQ(options.max_threads + options.max_input_files + options.max_lines_per_file +
                options.line_batch_size + options.parse_batch_size + options.merge_threads,
            0U);
  EXPECT_EQ(options.execution_mode, ExecutionMode::kAuto);
  EXPECT_TRUE(options.scratch_directory.empty() && options.manifest_path.empty() &&
              options.reject_log_path.empty());
}

TEST(ConvertOptionsTest, EveryCountOptionSetsItsOwnField) {
  const std::vector<std::pair<std::string, std::uint64_t ConversionOptions::*>> counts = {
      {"--shards", &ConversionOptions::output_shard_count},
      {"--records-per-flush", &ConversionOptions::records_per_flush},
      {"--max-files", &ConversionOptions::max_input_files},
      {"--max-lines-per-file", &ConversionOptions::max_lines_per_file},
      {"--max-threads", &ConversionOptions::max_threads},
      {"--reader-workers", &ConversionOptions::reader_workers},
      {"--decompress-workers", &ConversionOptions::decompress_workers},
      {"--line-index-workers", &ConversionOptions::line_index_workers},
      {"--parse-workers", &ConversionOptions::parse_workers},
      {"--compress-workers", &ConversionOptions::compress_workers},
      {"--line-batch-size", &ConversionOptions::line_batch_size},
      {"--parse-batch-size", &ConversionOptions::parse_batch_size},
      {"--initial-workers", &ConversionOptions::initial_workers},
      {"--min-workers", &ConversionOptions::min_workers},
      {"--merge-threads", &ConversionOptions::merge_threads},
      {"--memory-ceiling-mib", &ConversionOptions::memory_ceiling_mib},
  };
  const ConversionOptions defaults;
  for (const auto& [name, field] : counts) {
    SCOPED_TRACE(name);
    const auto parsed = ParseConvert({name, "777"});
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->settings.*field, 777U);
    // No other count moved.
    for (const auto& [other_name, other] : counts) {
      if (other != field) {
        EXPECT_EQ(parsed->settings.*other, defaults.*other) << other_name;
      }
    }
  }
}

TEST(ConvertOptionsTest, FlagsAndModesTakeTheLastOccurrence) {
  const auto parsed =
      ParseConvert({"--autotune", "--no-autotune", "--staged", "--parallel", "--no-fast-encoder",
                    "--verify-output", "--resume", "--keep-scratch"});
  ASSERT_TRUE(parsed.has_value());
  EXPECT_FALSE(parsed->settings.enable_autotune);
  EXPECT_EQ(parsed->settings.execution_mode, ExecutionMode::kParallel);
  EXPECT_FALSE(parsed->settings.enable_fast_encoder);
  EXPECT_TRUE(parsed->settings.verify_output && parsed->settings.resume &&
              parsed->settings.keep_scratch);

  const auto again = ParseConvert({"--no-autotune", "--autotune", "--parallel", "--sequential",
                                   "--shards", "16", "--shards", "32"});
  ASSERT_TRUE(again.has_value());
  EXPECT_TRUE(again->settings.enable_autotune);
  EXPECT_EQ(again->settings.execution_mode, ExecutionMode::kSequential);
  EXPECT_EQ(again->settings.output_shard_count, 32U);
}

TEST(ConvertOptionsTest, NumbersFollowTheCLibraryAndSaturateInsteadOfWrapping) {
  const auto level = [](const std::string& text) {
    return ParsedSetting<&ConversionOptions::compression_level>("--compression-level", text);
  };
  EXPECT_EQ(level("-5"), -5);
  EXPECT_EQ(level(" 12"), 12);
  EXPECT_EQ(level("+3"), 3);
  EXPECT_EQ(level("4294967304"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(level("-4294967304"), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(level("99999999999999999999999"), std::numeric_limits<std::int32_t>::max());
  EXPECT_EQ(level(""), std::nullopt);
  EXPECT_EQ(level("3 "), std::nullopt);
  EXPECT_EQ(level("0x10"), std::nullopt);

  const auto shards = [](const std::string& text) {
    return ParsedSetting<&ConversionOptions::output_shard_count>("--shards", text);
  };
  EXPECT_EQ(shards(" 7"), 7U);
  EXPECT_EQ(shards("-1"), kMaxCount);
  EXPECT_EQ(shards("99999999999999999999999"), kMaxCount);
  EXPECT_EQ(shards("12abc"), std::nullopt);
  EXPECT_EQ(shards(""), std::nullopt);

  const auto floor = [](const std::string& text) {
    return ParsedSetting<&ConversionOptions::min_free_space_bytes>("--min-free-space-gib", text);
  };
  EXPECT_EQ(floor("0"), 0U);
  EXPECT_EQ(floor("2"), 2147483648U);
  EXPECT_EQ(floor("17179869183"), 17179869183ULL << 30);  // the largest that fits
  EXPECT_EQ(floor("17179869184"), kMaxCount);             // 2^34 GiB would wrap to 0
  EXPECT_EQ(floor("99999999999999999999999"), kMaxCount);
}

TEST(ConvertOptionsTest, PathOptionsTakeTheirValueAsIsEvenWhenEmpty) {
  const auto parsed = ParseConvert(
      {"--manifest", "", "--scratch-dir", "--shards", "--reject-log", "r.tsv", "--manifest", ""});
  ASSERT_TRUE(parsed.has_value());
  const ConversionOptions options = app::ToConversionOptions(*parsed);
  EXPECT_TRUE(options.manifest_path.empty());
  EXPECT_EQ(options.scratch_directory, fs::path("--shards"));
  EXPECT_EQ(options.reject_log_path, fs::path("r.tsv"));
  EXPECT_EQ(options.output_shard_count, 256U);
}

TEST(ConvertOptionsTest, RefusedCommandLines) {
  for (const std::vector<std::string>& options :
       std::vector<std::vector<std::string>>{{"--shards"},
                                             {"--frobnicate"},
                                             {"--Shards", "4"},
                                             {"--sequential", "extra"},
                                             {"--scratch-dir"},
                                             {"--records-per-flush", "4", "--max-files"}}) {
    EXPECT_FALSE(ParseConvert(options).has_value()) << options[0];
  }
  CommandLine short_line("convert", {});
  app::ConvertCommandLine parsed;
  EXPECT_FALSE(app::ParseConvertOptions(3, short_line.argv(), parsed));
}

TEST(SampleOptionsTest, DefaultsAndTheRequiredLineCap) {
  const auto parsed = ParseSample({"--max-lines-per-file", "100"});
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->settings.input_directory, fs::path("in"));
  EXPECT_EQ(parsed->settings.output_directory, fs::path("out"));
  EXPECT_EQ(parsed->settings.max_lines_per_file, 100U);
  EXPECT_EQ(parsed->settings.line_batch_size, 4096U);
  EXPECT_EQ(parsed->settings.compression_level, 8);
  EXPECT_EQ(parsed->settings.max_input_files, 0U);
  EXPECT_TRUE(parsed->settings.manifest_path.empty());

  const auto all = ParseSample({"--max-files", "3", "--line-batch-size", "9", "--compression-level",
                                "-2", "--manifest", "m.tsv", "--max-lines-per-file", "1"});
  ASSERT_TRUE(all.has_value());
  EXPECT_EQ(all->settings.max_input_files, 3U);
  EXPECT_EQ(all->settings.line_batch_size, 9U);
  EXPECT_EQ(all->settings.compression_level, -2);
  EXPECT_EQ(all->settings.manifest_path, fs::path("m.tsv"));

  EXPECT_FALSE(ParseSample({}).has_value());
  EXPECT_FALSE(ParseSample({"--max-files", "3"}).has_value());
  EXPECT_FALSE(ParseSample({"--max-lines-per-file", "0"}).has_value());
  EXPECT_FALSE(ParseSample({"--max-lines-per-file", "5", "--max-lines-per-file", "0"}).has_value());
  EXPECT_FALSE(ParseSample({"--max-lines-per-file", "5", "--verify-output"}).has_value());
}

TEST(ProgressOptionsTest, EveryCommandTakesBothFlagsAmongItsOptionsAndTheLastWins) {
  using app::ProgressChoice;
  EXPECT_EQ(ParseConvert({})->progress, ProgressChoice::kAuto);
  const auto convert = ParseConvert({"--no-progress", "--shards", "4", "--progress"});
  ASSERT_TRUE(convert.has_value());
  EXPECT_EQ(convert->progress, ProgressChoice::kLogged);
  EXPECT_EQ(convert->settings.output_shard_count, 4U);

  const auto sample = ParseSample({"--progress", "--max-lines-per-file", "5", "--no-progress"});
  ASSERT_TRUE(sample.has_value());
  EXPECT_EQ(sample->progress, ProgressChoice::kOff);
  EXPECT_EQ(sample->settings.max_lines_per_file, 5U);
  EXPECT_FALSE(ParseSample({"--max-lines-per-file", "--progress"}).has_value());

  const auto verify_default = ParseVerify({});
  ASSERT_TRUE(verify_default.has_value());
  EXPECT_FALSE(verify_default->shard_count.has_value());  // the index's count, else 256
  EXPECT_EQ(verify_default->progress, ProgressChoice::kAuto);
  const auto verify_both = ParseVerify({"--progress", "--shards", "16", "--no-progress"});
  ASSERT_TRUE(verify_both.has_value());
  EXPECT_EQ(verify_both->shard_count, 16U);
  EXPECT_EQ(verify_both->progress, ProgressChoice::kOff);
  EXPECT_FALSE(ParseVerify({"--shards", "--progress"}).has_value());
  EXPECT_FALSE(ParseVerify({"--progress", "16"}).has_value());
}

TEST(ExecutionModeResolutionTest, AutomaticModeFollowsMaxThreadsOrTheUsableCpus) {
  ConversionOptions options;
  EXPECT_EQ(pipeline::ResolveExecutionMode(options, 1), ExecutionMode::kSequential);
  EXPECT_EQ(pipeline::ResolveExecutionMode(options, 0), ExecutionMode::kSequential);
  EXPECT_EQ(pipeline::ResolveExecutionMode(options, 2), ExecutionMode::kParallel);
  options.max_threads = 1;
  EXPECT_EQ(pipeline::ResolveExecutionMode(options, 64), ExecutionMode::kSequential);
  options.max_threads = 8;
  EXPECT_EQ(pipeline::ResolveExecutionMode(options, 1), ExecutionMode::kParallel);
}

TEST(ExecutionModeResolutionTest, RequestedModesAreKeptAndStagedIsNeverChosenAlone) {
  for (const ExecutionMode mode :
       {ExecutionMode::kSequential, ExecutionMode::kParallel, ExecutionMode::kStaged}) {
    ConversionOptions options;
    options.execution_mode = mode;
    options.max_threads = mode == ExecutionMode::kSequential ? 16 : 1;
    EXPECT_EQ(pipeline::ResolveExecutionMode(options, 8), mode);
  }
}

TEST(ExecutionModeResolutionTest, BatchSizesDefaultPerMode) {
  struct Case {
    ExecutionMode mode;
    std::uint64_t line_in, parse_in, line_out, parse_out;
  };
  for (const Case& c : std::vector<Case>{
           {ExecutionMode::kStaged, 0, 0, 262144, 262144},
           {ExecutionMode::kStaged, 1000, 0, 1000, 1000},
           {ExecutionMode::kStaged, 0, 500, 262144, 500},
           {ExecutionMode::kParallel, 0, 0, 4096, 4096},
           {ExecutionMode::kSequential, 0, 0, 4096, 4096},
           {ExecutionMode::kSequential, 7, 3, 7, 3},
       }) {
    ConversionOptions options;
    options.line_batch_size = c.line_in;
    options.parse_batch_size = c.parse_in;
    pipeline::ResolveBatchSizes(options, c.mode);
    EXPECT_EQ(options.line_batch_size, c.line_out) << static_cast<int>(c.mode) << " " << c.line_in;
    EXPECT_EQ(options.parse_batch_size, c.parse_out)
        << static_cast<int>(c.mode) << " " << c.parse_in;
  }
}

TEST(OptionLimitsTest, EachLimitAcceptsItsBoundAndRefusesOneMore) {
  struct Bound {
    std::uint64_t ConversionOptions::*field;
    std::uint64_t limit;
    std::string message;
  };
  const std::vector<Bound> bounds = {
      {&ConversionOptions::output_shard_count, 4096, "Output shard count must be at most 4096."},
      {&ConversionOptions::records_per_flush, 1048576,
       "Records-per-flush must be at most 1048576."},
      {&ConversionOptions::line_batch_size, 16777216, "Line batch size must be at most 16777216."},
      {&ConversionOptions::parse_batch_size, 16777216,
       "Parse batch size must be at most 16777216."},
      {&ConversionOptions::max_threads, 1024, "Max threads must be at most 1024."},
      {&ConversionOptions::reader_workers, 1024, "Reader workers must be at most 1024."},
      {&ConversionOptions::decompress_workers, 1024, "Decompress workers must be at most 1024."},
      {&ConversionOptions::line_index_workers, 1024, "Line index workers must be at most 1024."},
      {&ConversionOptions::parse_workers, 1024, "Parse workers must be at most 1024."},
      {&ConversionOptions::compress_workers, 1024, "Compress workers must be at most 1024."},
      {&ConversionOptions::merge_threads, 1024, "Merge threads must be at most 1024."},
  };
  for (const Bound& bound : bounds) {
    SCOPED_TRACE(bound.message);
    ConversionOptions options;
    options.*bound.field = bound.limit;
    EXPECT_TRUE(pipeline::CheckOptionLimits(options).ok());
    options.*bound.field = bound.limit + 1;
    const util::Result<void> refused = pipeline::CheckOptionLimits(options);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), bound.message);
  }
  // The first bound in table order is reported.
  ConversionOptions both;
  both.merge_threads = kMaxCount;
  both.records_per_flush = kMaxCount;
  EXPECT_EQ(pipeline::CheckOptionLimits(both).error(),
            "Records-per-flush must be at most 1048576.");
}

class SequentialValidationTest : public ::testing::Test {
 protected:
  // The error of a run whose input directory does not exist: any option error must come first.
  std::string ErrorOf(const ConversionOptions& changes) const {
    ConversionOptions options = changes;
    options.input_directory = dir_ / "missing";
    options.output_directory = dir_ / "out";
    const util::Result<pipeline::ConversionSummary> summary = pipeline::RunSequential(options);
    EXPECT_FALSE(summary.ok());
    EXPECT_FALSE(fs::exists(dir_ / "out"));
    return summary.ok() ? "" : summary.error();
  }

  TempDir dir_;
};

TEST_F(SequentialValidationTest, ChecksZeroCountsThenLimitsThenTheLevelBeforeReadingInput) {
  ConversionOptions options;
  options.line_batch_size = 4096;
  EXPECT_EQ(ErrorOf(options), "Input directory does not exist: " + (dir_ / "missing").string());

  options.compression_level = 23;
  EXPECT_EQ(ErrorOf(options),
            "Compression level must be in the Zstd-supported range [-131072, 22].");
  options.max_threads = 5000;
  EXPECT_EQ(ErrorOf(options), "Max threads must be at most 1024.");
  options.output_shard_count = 5000;
  EXPECT_EQ(ErrorOf(options), "Output shard count must be at most 4096.");
  options.records_per_flush = 0;
  EXPECT_EQ(ErrorOf(options), "Records-per-flush must be at least 1.");
  options.output_shard_count = 0;
  EXPECT_EQ(ErrorOf(options), "Output shard count must be at least 1.");
}

TEST_F(SequentialValidationTest, RunConversionChecksTheLevelFirst) {
  ConversionOptions options;
  options.input_directory = dir_ / "missing";
  options.output_directory = dir_ / "out";
  options.output_shard_count = 0;
  options.compression_level = -131073;
  const util::Result<pipeline::ConversionSummary> summary = pipeline::RunConversion(options);
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error(),
            "Compression level must be in the Zstd-supported range [-131072, 22].");
}

TEST_F(SequentialValidationTest, RunConversionResolvesTheBatchSizeForTheSequentialRunner) {
  fs::create_directories(dir_ / "in");
  ConversionOptions options;
  options.input_directory = dir_ / "in";
  options.output_directory = dir_ / "out";
  options.output_shard_count = 2;
  options.execution_mode = ExecutionMode::kSequential;
  const util::Result<pipeline::ConversionSummary> summary = pipeline::RunConversion(options);
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(summary->execution_mode, ExecutionMode::kSequential);
  EXPECT_EQ(summary->final_line_batch_size, 4096U);
  EXPECT_EQ(summary->output_file_count, 2U);
}

TEST(RunSummaryFileTest, RateLineOnlyWhenTheRunTookTime) {
  TempDir dir;
  ConversionOptions options;
  options.input_directory = "in dir";
  options.output_directory = dir.path();
  options.compression_level = -5;
  pipeline::ConversionSummary summary;
  summary.encoded_positions = 1000000;
  summary.elapsed_seconds = 0;
  summary.read_seconds = 12.5;
  summary.encode_seconds = 0.0004;
  summary.write_seconds = 1.23456;
  summary.usable_cpus = 2;
  ASSERT_TRUE(pipeline::WriteSequentialRunSummary(options, summary).ok());
  const std::string without_rate = ReadFile(dir / "run-summary.txt");
  EXPECT_EQ(without_rate.find("effective_fens_per_second"), std::string::npos);
  EXPECT_NE(without_rate.find("\nelapsed_seconds=0.000\nread_seconds=12.500\n"), std::string::npos);
  EXPECT_NE(without_rate.find("\nwrite_seconds=1.235\n"), std::string::npos);
  EXPECT_NE(without_rate.find("\ninput_directory=in dir\n"), std::string::npos);
  EXPECT_NE(without_rate.find("\ncompression_level=-5\n"), std::string::npos);
  EXPECT_TRUE(
      without_rate.ends_with("\nencode_seconds=0.000\ncompress_seconds=0.000\n"
                             "write_seconds=1.235\nmemory_ceiling_mib=0\nusable_cpus=2\n"
                             "sequential_writer=streams\n"))
      << without_rate;

  summary.elapsed_seconds = 2.5;
  summary.sequential_writer = pipeline::SequentialWriter::kFrames;
  ASSERT_TRUE(pipeline::WriteSequentialRunSummary(options, summary).ok());
  const std::string with_rate = ReadFile(dir / "run-summary.txt");
  EXPECT_TRUE(
      with_rate.ends_with("\nwrite_seconds=1.235\neffective_fens_per_second=400000.000\n"
                          "memory_ceiling_mib=0\nusable_cpus=2\nsequential_writer=frames\n"))
      << with_rate;
}

TEST(RunSummaryFileTest, UnwritableDirectoryIsSkippedSilently) {
  TempDir dir;
  ConversionOptions options;
  options.output_directory = dir / "does-not-exist";
  EXPECT_TRUE(pipeline::WriteSequentialRunSummary(options, pipeline::ConversionSummary()).ok());
  EXPECT_FALSE(fs::exists(dir / "does-not-exist"));
}

std::vector<std::string> ReportLines(const pipeline::ConversionSummary& summary) {
  ::testing::internal::CaptureStdout();
  app::PrintConversionReport(summary);
  std::fflush(stdout);
  const std::string text = ::testing::internal::GetCapturedStdout();
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

TEST(ConversionReportTest, UntouchedSummaryPrintsZerosAndEndsWithTheCeilingAndCpus) {
  const std::vector<std::string> lines = ReportLines(pipeline::ConversionSummary());
  ASSERT_EQ(lines.size(), 38U);
  EXPECT_EQ(lines.front(), "Execution mode: auto");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].substr(lines[i].find(": ")), ": 0") << lines[i];
  }
  EXPECT_EQ(lines[35], "Final compression level: 0");
  EXPECT_EQ(lines[36], "Memory ceiling MiB: 0");
  EXPECT_EQ(lines.back(), "Usable CPUs: 0");
}

TEST(ConversionReportTest, RateFollowsAPositiveElapsedTimeAndPathsFollowInOrder) {
  pipeline::ConversionSummary summary;
  summary.execution_mode = ExecutionMode::kStaged;
  summary.encoded_positions = 1000000;
  summary.elapsed_seconds = 2.5;
  summary.read_seconds = 1234567.0;
  summary.final_compression_level = -5;
  summary.controller_stats_path = "c.tsv";
  summary.manifest_path = "m.tsv";
  summary.scratch_directory = "never printed";
  summary.queue_stats_path = "q.tsv";
  summary.memory_ceiling_mib = 512;
  summary.usable_cpus = 4;
  const std::vector<std::string> lines = ReportLines(summary);
  ASSERT_EQ(lines.size(), 42U);
  EXPECT_EQ(lines[0], "Execution mode: staged");
  EXPECT_EQ(lines[25], "Elapsed seconds: 2.5");
  EXPECT_EQ(lines[26], "Read seconds: 1.23457e+06");
  EXPECT_EQ(lines[35], "Final compression level: -5");
  EXPECT_EQ(lines[36], "Effective FEN/s: 400000");
  EXPECT_EQ(lines[37], "Manifest: m.tsv");
  EXPECT_EQ(lines[38], "Queue stats: q.tsv");
  EXPECT_EQ(lines[39], "Controller stats: c.tsv");
  EXPECT_EQ(lines[40], "Memory ceiling MiB: 512");
  EXPECT_EQ(lines[41], "Usable CPUs: 4");

  summary.encoded_positions = 0;
  summary.manifest_path.clear();
  summary.queue_stats_path.clear();
  summary.controller_stats_path.clear();
  summary.execution_mode = ExecutionMode::kParallel;
  summary.memory_worker_cap = 3;
  const std::vector<std::string> idle = ReportLines(summary);
  ASSERT_EQ(idle.size(), 40U);
  EXPECT_EQ(idle[36], "Effective FEN/s: 0");
  EXPECT_EQ(idle[37], "Memory ceiling MiB: 512");
  EXPECT_EQ(idle[38], "Memory worker cap: 3");
  EXPECT_EQ(idle[39], "Usable CPUs: 4");
}

}  // namespace
}  // namespace boardmill
