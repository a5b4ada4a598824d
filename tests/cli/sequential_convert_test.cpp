// Whole-program tests of `convert --sequential`: console report, run-summary.txt, options and
// their refusals, and the shard contents against an independently computed expectation.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "chess/fen_parser.h"
#include "chess/packed_sfen_codec.h"
#include "compression/zstd_file_decompressor.h"
#include "conversion_run_support.h"
#include "pipeline/conversion_options.h"
#include "pipeline/conversion_totals.h"
#include "pipeline/sequential/sequential_writer_plan.h"
#include "run/memory_ceiling.h"
#include "shards/shard_naming.h"
#include "test_support.h"
#include "util/usable_cpus.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text does not end with a newline";
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  return text;
}

// The decompressed contents the shards must hold: the record of every line that parses and
// encodes, routed by the eighth-rank occupancy, in input order.
std::vector<std::string> ExpectedShards(const std::vector<std::string>& lines,
                                        std::uint64_t shard_count) {
  std::vector<std::string> shards(shard_count);
  for (const std::string& line : lines) {
    const util::Result<chess::Position> position = chess::ParseFen(line);
    if (!position) continue;
    const util::Result<chess::PackedSfen> record = chess::EncodePackedSfen(*position);
    if (!record) continue;
    const std::uint64_t key = position->Occupancy() >> 56;
    shards[key % shard_count].append(record->bytes.begin(), record->bytes.end());
  }
  return shards;
}

std::uint64_t TotalShardFileSize(const fs::path& directory) {
  std::uint64_t total = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    if (entry.path().filename().string().ends_with(".psfen.zst")) total += entry.file_size();
  }
  return total;
}

std::vector<std::string> FileNames(const fs::path& directory) {
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A double as the console prints it: printf's %g, six significant digits without trailing zeros.
bool IsConsoleDouble(const std::string& text) {
  std::size_t used = 0;
  const double value = text.empty() ? 0 : std::stod(text, &used);
  char printed[64];
  std::snprintf(printed, sizeof printed, "%g", value);
  return used == text.size() && text == printed;
}

bool IsDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(c) != 0; });
}

bool IsThreeDecimals(const std::string& text) {
  const std::size_t point = text.find('.');
  return point != std::string::npos && text.size() - point == 4 &&
         IsDigits(text.substr(0, point)) && IsDigits(text.substr(point + 1));
}

// What a run must report: its files, the line counts and byte volumes of its totals (the raw
// output follows from the positions, and seconds are checked by format) and its knobs.
struct RunFacts {
  std::uint64_t input_files = 0;
  std::uint64_t output_files = 0;
  pipeline::ConversionTotals totals;
  std::uint64_t line_batch_size = 4096;
  std::uint64_t records_per_flush = 4096;
  std::int32_t level = 8;
};

std::vector<std::pair<std::string, std::optional<std::string>>> ExpectedReport(
    const RunFacts& facts) {
  const auto n = [](auto value) { return std::optional<std::string>(std::to_string(value)); };
  const std::optional<std::string> timed;
  return {
      {"Execution mode", "sequential"},
      {"Input files", n(facts.input_files)},
      {"Completed files", n(facts.input_files)},
      {"Skipped files", "0"},
      {"Output files", n(facts.output_files)},
      {"Visited lines", n(facts.totals.visited_lines)},
      {"Encoded positions", n(facts.totals.encoded_positions)},
      {"Invalid positions", n(facts.totals.invalid_positions)},
      {"Reject log entries", "0"},
      {"Requested worker cap", "1"},
      {"Pending file cap", n(facts.input_files)},
      {"Effective max workers", "1"},
      {"Stdio worker cap", "0"},
      {"Final reader workers", "1"},
      {"Final decompress workers", "0"},
      {"Final line index workers", "0"},
      {"Final parse workers", "0"},
      {"Final compress workers", "0"},
      {"Final writer workers", "0"},
      {"Final line batch size", n(facts.line_batch_size)},
      {"Final parse batch size", "0"},
      {"Compressed input bytes", n(facts.totals.compressed_input_bytes)},
      {"Decompressed input bytes", n(facts.totals.decompressed_input_bytes)},
      {"Raw output bytes", n(32 * facts.totals.encoded_positions)},
      {"Compressed output bytes", n(facts.totals.compressed_output_bytes)},
      {"Elapsed seconds", timed},
      {"Read seconds", timed},
      {"Decompress seconds", timed},
      {"Split seconds", timed},
      {"Encode seconds", timed},
      {"Compress seconds", timed},
      {"Write seconds", timed},
      {"Merge seconds", "0"},
      {"Final active workers", "1"},
      {"Final records per flush", n(facts.records_per_flush)},
      {"Final compression level", n(facts.level)},
  };
}

// Checks every line of a successful sequential report, in order.
void ExpectReport(const ProgramRun& run, const RunFacts& facts) {
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> lines = SplitLines(run.out);
  const auto expected = ExpectedReport(facts);
  ASSERT_GE(lines.size(), expected.size()) << run.out;
  double elapsed = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& [label, value] = expected[i];
    const std::string prefix = label + ": ";
    ASSERT_EQ(lines[i].rfind(prefix, 0), 0U) << "line " << i << ": " << lines[i];
    const std::string printed = lines[i].substr(prefix.size());
    if (value) {
      EXPECT_EQ(printed, *value) << label;
    } else {
      EXPECT_TRUE(IsConsoleDouble(printed)) << lines[i];
    }
    if (label == "Elapsed seconds") elapsed = std::stod(printed);
  }
  // The rate line follows exactly when the run took measurable time, then the memory ceiling,
  // the CPUs the run may use, which this test may use too, and the shard writer.
  ASSERT_EQ(lines.size(), expected.size() + (elapsed > 0 ? 4 : 3)) << run.out;
  const std::string& ceiling_line = lines[lines.size() - 3];
  EXPECT_TRUE(ceiling_line.starts_with("Memory ceiling MiB: ")) << ceiling_line;
  EXPECT_NE(ceiling_line, "Memory ceiling MiB: 0");
  EXPECT_EQ(lines[lines.size() - 2], "Usable CPUs: " + std::to_string(util::UsableCpuCount()));
  EXPECT_TRUE(lines.back() == "Sequential writer: streams" ||
              lines.back() == "Sequential writer: frames")
      << lines.back();
  if (elapsed > 0) {
    const std::string prefix = "Effective FEN/s: ";
    const std::string& rate_line = lines[lines.size() - 4];
    ASSERT_EQ(rate_line.rfind(prefix, 0), 0U) << rate_line;
    const std::string printed = rate_line.substr(prefix.size());
    EXPECT_TRUE(IsConsoleDouble(printed)) << printed;
    const double rate = static_cast<double>(facts.totals.encoded_positions) / elapsed;
    EXPECT_NEAR(std::stod(printed), rate, rate * 1e-4 + 1e-9) << printed;
  }
}

// The writer a run with these options picks under the default ceiling.
pipeline::SequentialWriter ExpectedWriter(const pipeline::ConversionOptions& options) {
  const util::Result<pipeline::SequentialWriterPlan> plan =
      pipeline::PlanSequentialWriter(options, run::ResolveMemoryCeilingMib(0));
  EXPECT_TRUE(plan);
  return plan ? plan->writer : pipeline::SequentialWriter::kStreams;
}

// Checks run-summary.txt key by key, in order; time values by format.
void ExpectRunSummary(const fs::path& out, const pipeline::ConversionOptions& options,
                      const RunFacts& facts) {
  const std::string text = ReadFile(out / "run-summary.txt");
  const std::vector<std::string> lines = SplitLines(text);
  const std::vector<std::pair<std::string, std::optional<std::string>>> expected = {
      {"execution_mode", "sequential"},
      {"input_directory", options.input_directory.string()},
      {"output_directory", options.output_directory.string()},
      {"output_shard_count", std::to_string(options.output_shard_count)},
      {"compression_level", std::to_string(options.compression_level)},
      {"records_per_flush", std::to_string(options.records_per_flush)},
      {"max_input_files", std::to_string(options.max_input_files)},
      {"max_lines_per_file", std::to_string(options.max_lines_per_file)},
      {"input_file_count", std::to_string(facts.input_files)},
      {"output_file_count", std::to_string(facts.output_files)},
      {"visited_lines", std::to_string(facts.totals.visited_lines)},
      {"encoded_positions", std::to_string(facts.totals.encoded_positions)},
      {"invalid_positions", std::to_string(facts.totals.invalid_positions)},
      {"compressed_input_bytes", std::to_string(facts.totals.compressed_input_bytes)},
      {"decompressed_input_bytes", std::to_string(facts.totals.decompressed_input_bytes)},
      {"raw_output_bytes", std::to_string(32 * facts.totals.encoded_positions)},
      {"compressed_output_bytes", std::to_string(facts.totals.compressed_output_bytes)},
      {"elapsed_seconds", std::nullopt},
      {"read_seconds", std::nullopt},
      {"decompress_seconds", std::nullopt},
      {"split_seconds", std::nullopt},
      {"encode_seconds", std::nullopt},
      {"compress_seconds", std::nullopt},
      {"write_seconds", std::nullopt},
      {"effective_fens_per_second", std::nullopt},
      {"memory_ceiling_mib", std::to_string(run::ResolveMemoryCeilingMib(0))},
      {"usable_cpus", std::to_string(util::UsableCpuCount())},
      {"sequential_writer", std::string(pipeline::SequentialWriterName(ExpectedWriter(options)))},
  };
  // The run always takes measurable time here, so the rate line is present.
  ASSERT_EQ(lines.size(), expected.size()) << text;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& [key, value] = expected[i];
    ASSERT_EQ(lines[i].rfind(key + "=", 0), 0U) << "line " << i << ": " << lines[i];
    const std::string written = lines[i].substr(key.size() + 1);
    if (value) {
      EXPECT_EQ(written, *value) << key;
    } else {
      EXPECT_TRUE(IsThreeDecimals(written)) << lines[i];
    }
  }
}

class SequentialConvertTest : public ::testing::Test {
 protected:
  ProgramRun Convert(const std::vector<std::string>& options) {
    std::vector<std::string> arguments = {"convert", in_.string(), out_.string(), "--sequential"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return RunBoardmill(arguments);
  }

  // Writes `text` compressed into the input directory; returns its compressed size.
  std::uint64_t AddInput(const std::string& name, const std::string& text) {
    WriteZstdFile(in_ / name, text);
    return fs::file_size(in_ / name);
  }

  TempDir dir_;
  const fs::path in_ = dir_ / "in";
  const fs::path out_ = dir_ / "out";
};

TEST_F(SequentialConvertTest, ReportAndRunSummaryDescribeTheRun) {
  // File a: CRLF endings, an empty and a CR-only line (not visited), two invalid lines.
  const std::string a = kFens[0] + "\r\n" + kFens[1] + "\r\n\r\n\n" + "not a fen\r\n" + kFens[2] +
                        "\n8/8/8/8/8/8/8/8 w - - 0 1\n" + kFens[3] + "\n";
  // File b: no final newline.
  const std::string b = kFens[4] + "\n" + kFens[5] + "\n" + kFens[6];
  fs::create_directories(in_);
  RunFacts facts;
  facts.totals.compressed_input_bytes = AddInput("a.fen.zst", a) + AddInput("b.fen.zst", b);
  WriteZstdFile(in_ / "c.FEN.ZST", kFens[0] + "\n");
  WriteFile(in_ / "notes.txt", "not an input\n");
  facts.input_files = 2;
  facts.output_files = 16;
  facts.totals.visited_lines = 9;
  facts.totals.encoded_positions = 7;
  facts.totals.invalid_positions = 2;
  facts.totals.decompressed_input_bytes = a.size() + b.size();

  const ProgramRun run = Convert({"--shards", "16"});
  facts.totals.compressed_output_bytes = TotalShardFileSize(out_);
  ExpectReport(run, facts);
  pipeline::ConversionOptions options;
  options.input_directory = in_;
  options.output_directory = out_;
  options.output_shard_count = 16;
  ExpectRunSummary(out_, options, facts);
  EXPECT_EQ(DecompressedShards(out_, 16), ExpectedShards(kFens, 16));
}

TEST_F(SequentialConvertTest, EmptyInputDirectoryLeavesNEmptyShards) {
  fs::create_directories(in_);
  const ProgramRun run = Convert({"--shards", "5"});
  RunFacts facts;
  facts.output_files = 5;
  facts.totals.compressed_output_bytes = TotalShardFileSize(out_);
  ExpectReport(run, facts);
  EXPECT_EQ(FileNames(out_), std::vector<std::string>({"boardmill.lock", "run-summary.txt",
                                                       "shard-000.psfen.zst", "shard-001.psfen.zst",
                                                       "shard-002.psfen.zst", "shard-003.psfen.zst",
                                                       "shard-004.psfen.zst", "shard-index.json"}));
  EXPECT_EQ(DecompressedShards(out_, 5), std::vector<std::string>(5));
  EXPECT_NE(ReadFile(out_ / "run-summary.txt").find("\ninput_file_count=0\n"), std::string::npos);
}

TEST_F(SequentialConvertTest, MaxFilesKeepsTheFirstFilesInNameOrder) {
  fs::create_directories(in_);
  RunFacts facts;
  // Name order, not size or creation order: 10 < 9 < a.
  AddInput("a.fen.zst", Join({kFens[0], kFens[1], kFens[2], kFens[3]}));
  facts.totals.compressed_input_bytes =
      AddInput("9.fen.zst", Join({kFens[4], kFens[5]})) + AddInput("10.fen.zst", Join({kFens[6]}));
  facts.totals.decompressed_input_bytes =
      Join({kFens[4], kFens[5]}).size() + Join({kFens[6]}).size();
  facts.input_files = 2;
  facts.output_files = 4;
  facts.totals.visited_lines = facts.totals.encoded_positions = 3;

  const ProgramRun run = Convert({"--shards", "4", "--max-files", "2"});
  facts.totals.compressed_output_bytes = TotalShardFileSize(out_);
  ExpectReport(run, facts);
  EXPECT_EQ(DecompressedShards(out_, 4), ExpectedShards({kFens[6], kFens[4], kFens[5]}, 4));
  EXPECT_NE(ReadFile(out_ / "run-summary.txt").find("\nmax_input_files=2\n"), std::string::npos);
}

TEST_F(SequentialConvertTest, MaxLinesPerFileCapsEveryFileWhateverTheBatchSize) {
  fs::create_directories(in_);
  std::vector<std::string> ten;
  for (std::size_t i = 0; i < 10; ++i) ten.push_back(kFens[i % kFens.size()]);
  // Blank lines between the counted ones are not lines at all.
  std::string first;
  for (const std::string& line : ten) first += line + "\n\r\n";
  AddInput("first.fen.zst", first);
  const std::vector<std::string> reversed(ten.rbegin(), ten.rend());
  AddInput("second.fen.zst", Join(reversed));
  const std::vector<std::string> kept = {ten[0],      ten[1],      ten[2],
                                         reversed[0], reversed[1], reversed[2]};

  for (const char* batch : {"1", "2", "3", "4096"}) {
    SCOPED_TRACE(batch);
    fs::remove_all(out_);
    const ProgramRun run =
        Convert({"--shards", "8", "--max-lines-per-file", "3", "--line-batch-size", batch});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::vector<std::string> lines = SplitLines(run.out);
    EXPECT_EQ(lines[5], "Visited lines: 6");
    EXPECT_EQ(lines[6], "Encoded positions: 6");
    EXPECT_EQ(lines[19], std::string("Final line batch size: ") + batch);
    EXPECT_EQ(DecompressedShards(out_, 8), ExpectedShards(kept, 8));
    EXPECT_NE(ReadFile(out_ / "run-summary.txt").find("\nmax_lines_per_file=3\n"),
              std::string::npos);
  }
}

TEST_F(SequentialConvertTest, OutOfRangeCompressionLevelsFailBeforeAnythingIsTouched) {
  fs::create_directories(in_);
  AddInput("a.fen.zst", Join(kFens));
  // 4294967304 is 2^32 + 8: it must not wrap around to the valid level 8.
  for (const char* level : {"23", "-131073", "4294967304", "-4294967304"}) {
    SCOPED_TRACE(level);
    const ProgramRun run = Convert({"--compression-level", level});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Compression level must be in the Zstd-supported range [-131072, 22].\n");
    EXPECT_FALSE(fs::exists(out_));
  }
}

TEST_F(SequentialConvertTest, NegativeCompressionLevelIsAccepted) {
  fs::create_directories(in_);
  const std::string text = Join(kFens);
  RunFacts facts;
  facts.totals.compressed_input_bytes = AddInput("a.fen.zst", text);
  facts.totals.decompressed_input_bytes = text.size();
  facts.input_files = 1;
  facts.output_files = 3;
  facts.totals.visited_lines = facts.totals.encoded_positions = kFens.size();
  facts.level = -5;
  const ProgramRun run = Convert({"--shards", "3", "--compression-level", "-5"});
  facts.totals.compressed_output_bytes = TotalShardFileSize(out_);
  ExpectReport(run, facts);
  EXPECT_NE(ReadFile(out_ / "run-summary.txt").find("\ncompression_level=-5\n"), std::string::npos);
  EXPECT_EQ(DecompressedShards(out_, 3), ExpectedShards(kFens, 3));
}

TEST_F(SequentialConvertTest, RepeatedOptionsTakeTheLastValue) {
  fs::create_directories(in_);
  AddInput("a.fen.zst", Join(kFens));
  const ProgramRun run =
      Convert({"--shards", "16", "--shards", "32", "--records-per-flush", "1",
               "--records-per-flush", "2", "--no-fast-encoder", "--staged", "--sequential"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::string> lines = SplitLines(run.out);
  EXPECT_EQ(lines[0], "Execution mode: sequential");
  EXPECT_EQ(lines[4], "Output files: 32");
  EXPECT_EQ(lines[34], "Final records per flush: 2");
  EXPECT_TRUE(fs::exists(out_ / "shard-031.psfen.zst"));
  EXPECT_FALSE(fs::exists(out_ / "shard-032.psfen.zst"));
  EXPECT_EQ(DecompressedShards(out_, 32), ExpectedShards(kFens, 32));
}

TEST_F(SequentialConvertTest, VerifyOutputChecksTheShardsAfterTheRun) {
  fs::create_directories(in_);
  AddInput("a.fen.zst", Join(kFens));
  const ProgramRun run = Convert({"--shards", "8", "--verify-output"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(SplitLines(run.out)[6], "Encoded positions: " + std::to_string(kFens.size()));
}

TEST_F(SequentialConvertTest, MissingInputDirectoryIsReported) {
  const ProgramRun run = Convert({});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "Input directory does not exist: " + in_.string() + "\n");
}

TEST_F(SequentialConvertTest, CorruptInputFileFailsTheRunWithTheReaderMessage) {
  fs::create_directories(in_);
  AddInput("a.fen.zst", Join(kFens));
  WriteFile(in_ / "b.fen.zst", "plain text is not a frame\n");
  const ProgramRun run = Convert({"--shards", "2"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  const std::string failure = "Failed to decode input file " + (in_ / "b.fen.zst").string() + ": ";
  EXPECT_EQ(run.err, failure + "Zstd decompression failed: Unknown frame descriptor\n");
  EXPECT_FALSE(fs::exists(out_ / "run-summary.txt"));

  // A file cut short inside its frame must not pass for a shorter file.
  WriteZstdFile(in_ / "b.fen.zst", Join(kFens));
  const std::string whole = ReadFile(in_ / "b.fen.zst");
  WriteFile(in_ / "b.fen.zst", whole.substr(0, whole.size() - 3));
  const ProgramRun truncated = Convert({"--shards", "2"});
  EXPECT_EQ(truncated.exit_code, 1);
  EXPECT_EQ(truncated.out, "");
  EXPECT_EQ(truncated.err,
            failure + "Zstd decompression ended before the frame was fully decoded.\n");
}

TEST_F(SequentialConvertTest, OutputPathThatIsAFileIsReported) {
  fs::create_directories(in_);
  AddInput("a.fen.zst", Join(kFens));
  WriteFile(out_, "in the way");
  const ProgramRun run = Convert({});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err.rfind("Failed to create output directory: ", 0), 0U) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
}

std::string UsageText() {
  const ProgramRun run = RunBoardmill({});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out.rfind("Boardmill\nUsage:\n", 0), 0U);
  return run.out;
}

TEST_F(SequentialConvertTest, MalformedCommandLinesShowTheUsage) {
  const std::string usage = UsageText();
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"--shards"}, "--shards needs a number."},
      {{"--shards", ""}, "--shards needs a number, not \"\"."},
      {{"--shards", "12abc"}, "--shards needs a number, not \"12abc\"."},
      {{"--shards", "4", "--frobnicate"}, "Unknown option: --frobnicate"},
      {{"--Shards", "4"}, "Unknown option: --Shards"},
      {{"--compression-level", "8x"}, "--compression-level needs a number, not \"8x\"."},
      {{"--compression-level"}, "--compression-level needs a number."},
      {{"--max-lines-per-file", "1.5"}, "--max-lines-per-file needs a number, not \"1.5\"."},
      {{"--manifest"}, "--manifest needs a path."},
      {{"--verify-output", "yes"}, "Unexpected argument: yes"},
  };
  for (const auto& [options, reason] : refused) {
    std::string joined;
    for (const std::string& option : options) joined += "[" + option + "]";
    SCOPED_TRACE(joined);
    const ProgramRun run = Convert(options);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, usage);
    EXPECT_EQ(run.err, reason + "\n");
  }
  const ProgramRun too_short = RunBoardmill({"convert", in_.string()});
  EXPECT_EQ(too_short.exit_code, 1);
  EXPECT_EQ(too_short.out, usage);
}

TEST_F(SequentialConvertTest, OptionsTheMachineCannotHonourAreRefusedWithOneLine) {
  fs::create_directories(in_);
  AddInput("a.fen.zst", Join(kFens));
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--shards", "0"}, "Output shard count must be at least 1."},
      {{"--records-per-flush", "0"}, "Records-per-flush must be at least 1."},
      {{"--shards", "4097"}, "Output shard count must be at most 4096."},
      {{"--records-per-flush", "1048577"}, "Records-per-flush must be at most 1048576."},
      {{"--line-batch-size", "16777217"}, "Line batch size must be at most 16777216."},
      {{"--parse-batch-size", "16777217"}, "Parse batch size must be at most 16777216."},
      {{"--max-threads", "1025"}, "Max threads must be at most 1024."},
      {{"--reader-workers", "1025"}, "Reader workers must be at most 1024."},
      {{"--decompress-workers", "1025"}, "Decompress workers must be at most 1024."},
      {{"--line-index-workers", "1025"}, "Line index workers must be at most 1024."},
      {{"--parse-workers", "1025"}, "Parse workers must be at most 1024."},
      {{"--compress-workers", "1025"}, "Compress workers must be at most 1024."},
      {{"--merge-threads", "18446744073709551615"}, "Merge threads must be at most 1024."},
      // strtoull reads a minus sign by wrapping around, and saturates past the range.
      {{"--shards", "-1"}, "Output shard count must be at most 4096."},
      {{"--shards", "99999999999999999999999"}, "Output shard count must be at most 4096."},
      // Checked in this order: zero counts, then upper limits, then the level.
      {{"--shards", "0", "--records-per-flush", "0"}, "Output shard count must be at least 1."},
      {{"--records-per-flush", "0", "--shards", "5000"}, "Records-per-flush must be at least 1."},
  };
  for (const auto& [options, message] : cases) {
    SCOPED_TRACE(options[0] + " " + options[1]);
    const ProgramRun run = Convert(options);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, message + "\n");
    EXPECT_FALSE(fs::exists(out_));
  }
}

TEST_F(SequentialConvertTest, OptionsOtherModesReadAreAcceptedAndIgnored) {
  fs::create_directories(in_);
  AddInput("a.fen.zst", Join(kFens));
  const ProgramRun run = Convert({"--shards",
                                  "4",
                                  "--max-threads",
                                  "7",
                                  "--initial-workers",
                                  "3",
                                  "--min-workers",
                                  "2",
                                  "--memory-ceiling-mib",
                                  "4096",
                                  "--min-free-space-gib",
                                  "99999999999999",
                                  "--scratch-dir",
                                  (dir_ / "scratch").string(),
                                  "--manifest",
                                  (dir_ / "m.tsv").string(),
                                  "--reject-log",
                                  "",
                                  "--resume",
                                  "--keep-scratch",
                                  "--autotune",
                                  "--parse-batch-size",
                                  "5"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::vector<std::string> lines = SplitLines(run.out);
  EXPECT_EQ(lines[9], "Requested worker cap: 1");
  EXPECT_EQ(lines[20], "Final parse batch size: 0");
  EXPECT_EQ(lines[lines.size() - 3], "Memory ceiling MiB: 4096");
  EXPECT_EQ(lines[lines.size() - 4].rfind("Effective FEN/s: ", 0), 0U) << "no path lines here";
  EXPECT_FALSE(fs::exists(dir_ / "scratch"));
  EXPECT_FALSE(fs::exists(dir_ / "m.tsv"));
  EXPECT_EQ(DecompressedShards(out_, 4), ExpectedShards(kFens, 4));
}

// Input lines of the committed position set, with a few lines that must be rejected.
std::vector<std::string> PositionLines() {
  std::vector<std::string> lines =
      SplitLines(ReadZstdFile(TestDataPath("sequential_positions.fen.zst")));
  EXPECT_GT(lines.size(), 2000U);
  const std::vector<std::string> bad = {
      "8/8/8/8/8/8/8/8 w - - 0 1",                                   // no kings
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 128 1",  // halfmove clock too big
      "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1",    // side to move
      "rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1",    // board
      "garbage",
  };
  for (std::size_t i = 0; i < bad.size(); ++i) lines.insert(lines.begin() + 1 + i * 397, bad[i]);
  return lines;
}

class ShardContentTest : public SequentialConvertTest {
 protected:
  // Splits the position lines over three input files, in name order.
  void WritePositionInputs() {
    const std::vector<std::string> lines = PositionLines();
    const std::size_t third = lines.size() / 3;
    AddInput("part-1.fen.zst", Join({lines.begin(), lines.begin() + third}));
    AddInput("part-2.fen.zst", Join({lines.begin() + third, lines.begin() + 2 * third}));
    AddInput("part-3.fen.zst", Join({lines.begin() + 2 * third, lines.end()}));
  }
};

TEST_F(ShardContentTest, FastAndGeneralEncodersWriteIdenticalShardsInInputOrder) {
  WritePositionInputs();
  const std::vector<std::string> lines = PositionLines();
  for (const std::uint64_t shards : {256, 7}) {
    SCOPED_TRACE(shards);
    const std::vector<std::string> expected = ExpectedShards(lines, shards);
    std::vector<std::string> reports;
    for (const bool fast : {true, false}) {
      fs::remove_all(out_);
      std::vector<std::string> options = {"--shards", std::to_string(shards), "--records-per-flush",
                                          "100"};
      if (!fast) options.push_back("--no-fast-encoder");
      const ProgramRun run = Convert(options);
      ASSERT_EQ(run.exit_code, 0) << run.err;
      const std::vector<std::string> actual = DecompressedShards(out_, shards);
      for (std::uint64_t id = 0; id < shards; ++id) {
        EXPECT_EQ(actual[id], expected[id]) << "shard " << id << (fast ? " fast" : " general");
      }
      const std::vector<std::string> report = SplitLines(run.out);
      reports.push_back(report[5] + report[6] + report[7]);
    }
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_EQ(reports[0], "Visited lines: " + std::to_string(lines.size()) + "Encoded positions: " +
                              std::to_string(lines.size() - 5) + "Invalid positions: 5");
  }
}

TEST_F(ShardContentTest, ZstdCommandLineToolReadsEveryShardAsWeDo) {
  if (RunShell("command -v zstd").exit_code != 0) GTEST_SKIP() << "zstd tool not installed";
  WritePositionInputs();
  // Level 1 with a tiny flush size hands the compressor many small spans; level 19 few large.
  for (const char* level : {"1", "19"}) {
    SCOPED_TRACE(level);
    fs::remove_all(out_);
    const std::string flush = std::string(level) == "1" ? "3" : "4096";
    const ProgramRun run =
        Convert({"--shards", "16", "--compression-level", level, "--records-per-flush", flush});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    for (std::uint64_t id = 0; id < 16; ++id) {
      const fs::path path = shards::ShardPath(out_, id, 16);
      const ProgramRun tool = RunShell("zstd -q -dc '" + path.string() + "'");
      ASSERT_EQ(tool.exit_code, 0) << path << ": " << tool.err;
      const auto ours = compression::DecompressZstdFile(path);
      ASSERT_TRUE(ours.ok()) << ours.error();
      EXPECT_EQ(tool.out, std::string(ours->begin(), ours->end())) << path;
    }
  }
}

}  // namespace
}  // namespace boardmill
