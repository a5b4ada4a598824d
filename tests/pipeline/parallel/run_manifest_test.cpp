#include "pipeline/parallel/run_manifest.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

constexpr char kHeader[] = "record_type\tphase\ttimestamp\tpayload";
// Matches 2021-03-01T17:05:09Z: digits wherever the pattern has a 'd'.
bool IsTimestamp(std::string_view text) {
  constexpr std::string_view kPattern = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kPattern.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kPattern[i] == 'd' ? !digit : text[i] != kPattern[i]) return false;
  }
  return true;
}

// The manifest's lines with each record's timestamp (third field) replaced by "T", so whole
// lines can be compared. A third field that is not a timestamp is left as it is.
std::vector<std::string> LinesWithoutTimestamps(const fs::path& path) {
  std::vector<std::string> lines = ReadLines(path);
  for (std::string& line : lines) {
    const std::string::size_type first_tab = line.find('\t');
    if (first_tab == std::string::npos) continue;
    const std::string::size_type begin = line.find('\t', first_tab + 1) + 1;
    if (begin == 0) continue;
    const std::string::size_type end = std::min(line.find('\t', begin), line.size());
    if (IsTimestamp(std::string_view(line).substr(begin, end - begin))) {
      line.replace(begin, end - begin, "T");
    }
  }
  return lines;
}

ConversionOptions SampleOptions() {
  ConversionOptions options;
  options.input_directory = "/data/in";
  options.output_directory = "/data/out";
  options.scratch_directory = "/data/out/_scr\tatch";
  options.output_shard_count = 16;
  options.compression_level = -5;
  options.records_per_flush = 1024;
  options.line_batch_size = 4096;
  options.enable_fast_encoder = false;
  options.enable_autotune = true;
  options.execution_mode = ExecutionMode::kParallel;
  return options;
}

FileProcessingSummary SampleFile(std::uint64_t index, fs::path input_path) {
  FileProcessingSummary file;
  file.file_index = index;
  file.input_path = std::move(input_path);
  file.visited_lines = 10;
  file.encoded_positions = 9;
  file.invalid_positions = 1;
  file.compressed_input_bytes = 300;
  file.decompressed_input_bytes = 600;
  file.raw_output_bytes = 288;
  file.compressed_output_bytes = 100;
  file.read_seconds = 0.5;
  file.decompress_seconds = 1234567.0;
  file.split_seconds = 0.000012345;
  file.encode_seconds = 2.0;
  file.compress_seconds = 0.25;
  file.write_seconds = 1.0 / 3.0;
  file.line_batch_size = 4096;
  file.records_per_flush = 1024;
  file.compression_level = -3;
  file.stamp = {4321, 1'700'000'000'123'456'789};
  return file;
}

// A scratch directory and the manifest path most tests write to.
class RunManifestTest : public ::testing::Test {
 protected:
  TempDir dir_;
  const fs::path path_ = dir_ / "run-manifest.tsv";
};

class LoadCompletedFilesTest : public RunManifestTest {};

const char kSampleFileRecord[] =
    "file\tcompleted\tT\t4\t/data/in/a b.fen.zst\t10\t9\t1\t300\t600\t288\t100"
    "\t0.5\t1.23457e+06\t1.2345e-05\t2\t0.25\t0.333333\t4096\t1024\t-3\t4321\t1700000000123456789";

TEST_F(RunManifestTest, FreshRunWritesHeaderStartFileTuningAndFinishRecords) {
  RunManifest manifest(path_);
  const util::Result<void> opened = manifest.Open(SampleOptions(), false);
  ASSERT_TRUE(opened.ok()) << opened.error();

  ASSERT_TRUE(manifest.AppendFileRecord(SampleFile(4, "/data/in/a\tb.fen.zst")).ok());
  FileProcessingSummary skipped = SampleFile(0, "/data/in/z.fen.zst");
  skipped.skipped = true;
  ASSERT_TRUE(manifest.AppendFileRecord(skipped).ok());
  TuningDecision decision;
  decision.elapsed_seconds = 2.5;
  decision.knobs = WorkerKnobs{3, 8192, 512, 7};
  decision.throughput = 123456.789;
  decision.reason = "Why\tnot.";
  ASSERT_TRUE(manifest.AppendTuningDecision(decision).ok());

  ConversionSummary summary;
  summary.completed_input_files = 5;
  summary.skipped_input_files = 1;
  summary.visited_lines = 100;
  summary.encoded_positions = 90;
  summary.invalid_positions = 10;
  summary.compressed_input_bytes = 1;
  summary.decompressed_input_bytes = 2;
  summary.raw_output_bytes = 2880;
  summary.compressed_output_bytes = 3;
  summary.elapsed_seconds = 12.5;
  summary.read_seconds = 0.1;
  summary.decompress_seconds = 0.2;
  summary.split_seconds = 0.3;
  summary.encode_seconds = 0.4;
  summary.compress_seconds = 0.5;
  summary.write_seconds = 0.6;
  summary.merge_seconds = 1e-7;
  const util::Result<void> finished = manifest.WriteFinish(summary, "success");
  ASSERT_TRUE(finished.ok()) << finished.error();

  const std::vector<std::string> expected = {
      kHeader,
      "run\tstart\tT\tmode=parallel;input_directory=/data/in;output_directory=/data/out;"
      "scratch_directory=/data/out/_scr atch;output_shard_count=16;compression_level=-5;"
      "records_per_flush=1024;line_batch_size=4096;resume=0;enable_fast_encoder=0;"
      "enable_autotune=1",
      kSampleFileRecord,
      "file\tskipped\tT\t0\t/data/in/z.fen.zst\t10\t9\t1\t300\t600\t288\t100"
      "\t0.5\t1.23457e+06\t1.2345e-05\t2\t0.25\t0.333333\t4096\t1024\t-"
      "3\t4321\t1700000000123456789",
      "tune\tdecision\tT\t2.5\t3\t8192\t512\t7\t123457\tWhy not.",
      "run\tfinish\tT\tstatus=success;completed_input_files=5;skipped_input_files=1;"
      "visited_lines=100;encoded_positions=90;invalid_positions=10;compressed_input_bytes=1;"
      "decompressed_input_bytes=2;raw_output_bytes=2880;compressed_output_bytes=3;"
      "elapsed_seconds=12.5;read_seconds=0.1;decompress_seconds=0.2;split_seconds=0.3;"
      "encode_seconds=0.4;compress_seconds=0.5;write_seconds=0.6;merge_seconds=1e-07",
  };
  // Every record carries a real timestamp in its third field, or its "T" would be missing.
  EXPECT_EQ(LinesWithoutTimestamps(path_), expected);
}

TEST_F(RunManifestTest, StartRecordNamesTheExecutionModeAndSanitisesFreeText) {
  const fs::path path = dir_ / "m.tsv";
  ConversionOptions options = SampleOptions();
  options.execution_mode = static_cast<ExecutionMode>(9);
  options.output_directory = "/data/o\r\nut";
  RunManifest manifest(path);
  ASSERT_TRUE(manifest.Open(options, false).ok());
  ASSERT_TRUE(manifest.WriteFinish(ConversionSummary{}, "bad\nstatus").ok());

  const std::vector<std::string> lines = LinesWithoutTimestamps(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(
      lines[1].starts_with("run\tstart\tT\tmode=auto;input_directory=/data/in;"
                           "output_directory=/data/o  ut;"))
      << lines[1];
  EXPECT_TRUE(lines[2].starts_with("run\tfinish\tT\tstatus=bad status;")) << lines[2];
}

TEST_F(RunManifestTest, ResumedRunAppendsWithoutASecondHeader) {
  {
    RunManifest first(path_);
    ASSERT_TRUE(first.Open(SampleOptions(), false).ok());
    ASSERT_TRUE(first.AppendFileRecord(SampleFile(4, "/data/in/a\tb.fen.zst")).ok());
    // No finish record: the first run was interrupted.
  }
  ConversionOptions resumed_options = SampleOptions();
  resumed_options.resume = true;
  RunManifest second(path_);
  ASSERT_TRUE(second.Open(resumed_options, true).ok());
  ASSERT_TRUE(second.WriteFinish(ConversionSummary{}, "success").ok());

  const std::vector<std::string> lines = LinesWithoutTimestamps(path_);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], kHeader);
  EXPECT_TRUE(lines[1].starts_with("run\tstart\t")) << lines[1];
  EXPECT_NE(lines[1].find(";resume=0;"), std::string::npos) << lines[1];
  EXPECT_EQ(lines[2], kSampleFileRecord);
  EXPECT_TRUE(lines[3].starts_with("run\tstart\t")) << lines[3];
  EXPECT_NE(lines[3].find(";resume=1;"), std::string::npos) << lines[3];
  EXPECT_TRUE(lines[4].starts_with("run\tfinish\tT\tstatus=success;")) << lines[4];
}

TEST_F(RunManifestTest, ResumeWithoutAManifestCreatesOneWithoutHeaderInAMissingDirectory) {
  const fs::path path = dir_ / "deep/er/run-manifest.tsv";
  RunManifest manifest(path);
  const util::Result<void> opened = manifest.Open(SampleOptions(), true);
  ASSERT_TRUE(opened.ok()) << opened.error();
  ASSERT_TRUE(manifest.WriteFinish(ConversionSummary{}, "success").ok());
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("run\tstart\t")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("run\tfinish\t")) << lines[1];
}

TEST_F(RunManifestTest, RecordsNeedAnOpenManifestAndFinishClosesIt) {
  RunManifest manifest(path_);
  const std::string not_open = "Manifest is not open.";
  EXPECT_EQ(manifest.AppendFileRecord(SampleFile(1, "x")).error(), not_open);
  EXPECT_EQ(manifest.AppendTuningDecision(TuningDecision{}).error(), not_open);
  EXPECT_EQ(manifest.WriteFinish(ConversionSummary{}, "success").error(), not_open);
  EXPECT_FALSE(fs::exists(path_));

  ASSERT_TRUE(manifest.Open(SampleOptions(), false).ok());
  ASSERT_TRUE(manifest.Open(SampleOptions(), false).ok());  // no second header or start record
  ASSERT_TRUE(manifest.WriteFinish(ConversionSummary{}, "success").ok());
  EXPECT_EQ(ReadLines(path_).size(), 3u);
  EXPECT_EQ(manifest.AppendFileRecord(SampleFile(1, "x")).error(), not_open);
  EXPECT_EQ(manifest.WriteFinish(ConversionSummary{}, "success").error(), not_open);
  EXPECT_EQ(ReadLines(path_).size(), 3u);
}

TEST_F(RunManifestTest, ReportsFileSystemFailures) {
  WriteFile(dir_ / "plain-file", "");

  RunManifest under_a_file(dir_ / "plain-file/sub/run-manifest.tsv");
  const util::Result<void> no_directory = under_a_file.Open(SampleOptions(), false);
  ASSERT_FALSE(no_directory.ok());
  EXPECT_EQ(no_directory.error().rfind("Failed to create manifest directory: ", 0), 0u)
      << no_directory.error();

  RunManifest on_a_directory(dir_.path());
  EXPECT_EQ(on_a_directory.Open(SampleOptions(), false).error(),
            "Failed to open manifest: " + dir_.path().string());

  // A start record larger than the stream's buffer reaches the full device at once.
  ConversionOptions huge = SampleOptions();
  huge.input_directory = std::string(100000, 'd');
  RunManifest header_fails("/dev/full");
  EXPECT_EQ(header_fails.Open(huge, false).error(), "Failed to write manifest header: /dev/full");
  EXPECT_EQ(header_fails.AppendFileRecord(SampleFile(1, "x")).error(), "Manifest is not open.");
}

// Lets the process write no file beyond `bytes`, as a full disk would, while it lives. The
// write that crosses the limit fails with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : previous_handler_(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  void (*previous_handler_)(int);
  rlimit saved_{};
};

TEST_F(RunManifestTest, FailedFinishKeepsTheManifestOpenAndLaterRecordsFail) {
  RunManifest manifest(path_);
  ASSERT_TRUE(manifest.Open(SampleOptions(), false).ok());
  const FileSizeLimit full(fs::file_size(path_));  // the start record is out; nothing more fits
  ASSERT_TRUE(manifest.AppendTuningDecision(TuningDecision{}).ok());  // still in the buffer
  EXPECT_EQ(manifest.WriteFinish(ConversionSummary{}, "success").error(),
            "Failed to flush manifest: " + path_.string());
  EXPECT_EQ(manifest.AppendFileRecord(SampleFile(2, "x")).error(),
            "Failed to append file record to manifest: " + path_.string());
  EXPECT_EQ(manifest.AppendTuningDecision(TuningDecision{}).error(),
            "Failed to append tuning decision: " + path_.string());
  EXPECT_EQ(manifest.WriteFinish(ConversionSummary{}, "success").error(),
            "Failed to write manifest footer: " + path_.string());
}

TEST_F(RunManifestTest, ConcurrentRecordsStayWholeAndAllFilesReadBack) {
  constexpr int kWorkers = 4;
  constexpr int kFilesPerWorker = 200;
  RunManifest manifest(path_);
  ASSERT_TRUE(manifest.Open(SampleOptions(), false).ok());

  std::vector<std::thread> threads;
  for (int w = 0; w < kWorkers; ++w) {
    threads.emplace_back([&manifest, w] {
      for (int i = 0; i < kFilesPerWorker; ++i) {
        const std::uint64_t index = static_cast<std::uint64_t>(w * kFilesPerWorker + i);
        const fs::path input = "/in/file-" + std::to_string(index) + ".fen.zst";
        EXPECT_TRUE(manifest.AppendFileRecord(SampleFile(index, input)).ok());
      }
    });
  }
  threads.emplace_back([&manifest] {
    TuningDecision decision;
    decision.reason = "Autotuner started.";
    for (int i = 0; i < 100; ++i) EXPECT_TRUE(manifest.AppendTuningDecision(decision).ok());
  });
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(manifest.WriteFinish(ConversionSummary{}, "success").ok());

  std::size_t file_records = 0;
  for (const std::string& line : ReadLines(path_)) {
    const auto tabs = std::count(line.begin(), line.end(), '\t');
    if (line.starts_with("file\tcompleted\t")) {
      ++file_records;
      EXPECT_EQ(tabs, 22) << line;
    } else if (line.starts_with("tune\tdecision\t")) {
      EXPECT_EQ(tabs, 9) << line;
    } else {
      EXPECT_EQ(tabs, 3) << line;
    }
  }
  EXPECT_EQ(file_records, static_cast<std::size_t>(kWorkers * kFilesPerWorker));

  const util::Result<std::map<std::uint64_t, std::string>> completed = LoadCompletedFiles(path_);
  ASSERT_TRUE(completed.ok()) << completed.error();
  ASSERT_EQ(completed->size(), static_cast<std::size_t>(kWorkers * kFilesPerWorker));
  for (const auto& [index, name] : *completed) {
    EXPECT_EQ(name, "/in/file-" + std::to_string(index) + ".fen.zst");
  }
}

TEST_F(LoadCompletedFilesTest, MissingManifestMeansNothingIsCompleted) {
  const util::Result<std::set<std::uint64_t>> indices = LoadCompletedFileIndices(path_);
  ASSERT_TRUE(indices.ok()) << indices.error();
  EXPECT_TRUE(indices->empty());
}

TEST_F(LoadCompletedFilesTest, ReadsOnlyCompletedFileRecordsAndLaterRecordsWin) {
  WriteFile(path_,
            "record_type\tphase\ttimestamp\tpayload\n"
            "run\tstart\t2021-03-01T17:05:09Z\tmode=parallel\n"
            "file\tcompleted\t2021-03-01T17:05:10Z\t3\t/old/a.fen.zst\t1\t1\n"
            "file\tskipped\t2021-03-01T17:05:10Z\t8\t/in/s.fen.zst\t0\n"
            "tune\tdecision\t2021-03-01T17:05:11Z\t0\t2\t4096\t4096\t8\t0\tAutotuner started.\n"
            "\n"
            "file\tcompleted\t2021-03-01T17:05:12Z\t\t/in/empty-index.fen.zst\n"  // ignored
            "file\tcompleted\t2021-03-01T17:05:12Z\n"                             // ignored
            "file\tcompleted\t\n"                                                 // ignored
            "file\tcompleted\t\t\t\n"                                             // ignored
            "FILE\tcompleted\t2021-03-01T17:05:12Z\t9\t/in/upper.fen.zst\n"       // ignored
            "file\tcompleted\t2021-03-01T17:05:13Z\t 12\t/in/dir/b.fen.zst\n"
            "file\tcompleted\t2021-03-01T17:05:14Z\t18446744073709551615\n"
            "run\tstart\t2021-03-01T17:06:00Z\tmode=parallel;resume=1\n"
            "file\tcompleted\t2021-03-01T17:06:01Z\t3\t/new/c.fen.zst\t1\t1\n");

  const util::Result<std::map<std::uint64_t, std::string>> completed = LoadCompletedFiles(path_);
  ASSERT_TRUE(completed.ok()) << completed.error();
  const std::map<std::uint64_t, std::string> expected = {
      {3, "/new/c.fen.zst"}, {12, "/in/dir/b.fen.zst"}, {18446744073709551615u, ""}};
  EXPECT_EQ(*completed, expected);

  const util::Result<std::set<std::uint64_t>> indices = LoadCompletedFileIndices(path_);
  ASSERT_TRUE(indices.ok()) << indices.error();
  EXPECT_EQ(*indices, (std::set<std::uint64_t>{3, 12, 18446744073709551615u}));
}

TEST_F(LoadCompletedFilesTest, IgnoresARecordTornByAKilledRun) {
  // The last record lost its tail: its index may be cut short (13 read as 1), so it must not
  // count, while complete records before it still do.
  WriteFile(path_,
            "file\tcompleted\t2021-03-01T17:05:10Z\t4\t/in/a.fen.zst\t1\n"
            "file\tcompleted\t2021-03-01T17:05:11Z\t1");
  const util::Result<std::set<std::uint64_t>> indices = LoadCompletedFileIndices(path_);
  ASSERT_TRUE(indices.ok()) << indices.error();
  EXPECT_EQ(*indices, (std::set<std::uint64_t>{4}));
}

TEST_F(LoadCompletedFilesTest, RefusesAnIndexThatIsNotADecimalNumber) {
  struct Case {
    std::string index_field;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"12abc", "12abc"},
      {"abc", "abc"},
      {"-1", "-1"},
      {"+1", "+1"},
      {"0x10", "0x10"},
      {"12 ", "12 "},
      {"   ", "   "},
      {"1\r", "1 "},
      {"18446744073709551616", "18446744073709551616"},
      {"99999999999999999999999", "99999999999999999999999"},
  };
  for (const Case& bad : cases) {
    WriteFile(path_,
              "record_type\tphase\ttimestamp\tpayload\n"
              "file\tcompleted\t2021-03-01T17:05:10Z\t1\t/in/a.fen.zst\n"
              "file\tcompleted\t2021-03-01T17:05:10Z\t" +
                  bad.index_field + "\t/in/b.fen.zst\n");
    const std::string message =
        "Manifest " + path_.string() + " line 3 has an invalid file index: " + bad.shown + ".";
    EXPECT_EQ(LoadCompletedFiles(path_).error(), message) << bad.index_field;
    EXPECT_EQ(LoadCompletedFileIndices(path_).error(), message) << bad.index_field;
  }
}

TEST_F(LoadCompletedFilesTest, ReadsBackWhatTheManifestWrote) {
  RunManifest manifest(path_);
  ASSERT_TRUE(manifest.Open(SampleOptions(), false).ok());
  ASSERT_TRUE(manifest.AppendFileRecord(SampleFile(7, "/in/we\tird.fen.zst")).ok());
  ASSERT_TRUE(manifest.AppendFileRecord(SampleFile(2, "/in/plain.fen.zst")).ok());
  FileProcessingSummary skipped = SampleFile(5, "/in/skipped.fen.zst");
  skipped.skipped = true;
  ASSERT_TRUE(manifest.AppendFileRecord(skipped).ok());
  ASSERT_TRUE(manifest.WriteFinish(ConversionSummary{}, "success").ok());

  const util::Result<std::map<std::uint64_t, std::string>> completed = LoadCompletedFiles(path_);
  ASSERT_TRUE(completed.ok()) << completed.error();
  const std::map<std::uint64_t, std::string> expected = {{2, "/in/plain.fen.zst"},
                                                         {7, "/in/we ird.fen.zst"}};
  EXPECT_EQ(*completed, expected);
}

TEST(FormatUtcTimestampTest, IsTheCurrentUtcTimeToTheSecond) {
  const std::time_t before = std::time(nullptr);
  const std::string text = FormatUtcTimestamp();
  const std::time_t after = std::time(nullptr);
  ASSERT_TRUE(IsTimestamp(text)) << text;

  std::tm parsed{};
  ASSERT_NE(strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parsed), nullptr);
  const std::time_t seconds = timegm(&parsed);
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
}

}  // namespace
}  // namespace boardmill::pipeline
