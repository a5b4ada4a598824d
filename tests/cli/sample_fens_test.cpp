#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "compression/zstd_line_reader.h"
#include "io/fen_dataset_sampler.h"
#include "test_support.h"

namespace boardmill::io {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

std::string Numbered(const std::string& stem, std::size_t count) {
  std::string text;
  for (std::size_t i = 1; i <= count; ++i) text += stem + " " + std::to_string(i) + "\n";
  return text;
}

class SampleFensTest : public ::testing::Test {
 protected:
  ProgramRun Sample(const std::vector<std::string>& options) const {
    std::vector<std::string> arguments = {"sample-fens", in_.string(), out_.string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return RunBoardmill(arguments);
  }

  std::uint64_t AddInput(const std::string& name, const std::string& text) {
    WriteZstdFile(in_ / name, text);
    return fs::file_size(in_ / name);
  }

  std::string Row(const std::string& name, std::uint64_t lines, std::uint64_t compressed_in,
                  std::uint64_t decompressed_in) const {
    return (in_ / name).string() + "\t" + (out_ / name).string() + "\t" + std::to_string(lines) +
           "\t" + std::to_string(compressed_in) + "\t" + std::to_string(decompressed_in) + "\t" +
           std::to_string(fs::file_size(out_ / name)) + "\n";
  }

  TempDir dir_;
  const fs::path in_ = dir_ / "in";
  const fs::path out_ = dir_ / "out";
};

constexpr char kManifestHeader[] =
    "input_path\toutput_path\tcopied_lines\tcompressed_input_bytes\tdecompressed_input_bytes\t"
    "compressed_output_bytes\n";

TEST_F(SampleFensTest, CopiesTheFirstLinesOfEveryFileAndListsThemInTheManifest) {
  // CRLF endings and blank lines in a; fewer lines than the cap in b; no lines at all in c.
  const std::string a = "one\r\n\r\ntwo\n\nthree\r\nfour\nfive\nsix\n";
  const std::string b = "alpha\nbeta";
  const std::uint64_t a_size = AddInput("a.fen.zst", a);
  const std::uint64_t b_size = AddInput("b.fen.zst", b);
  const std::uint64_t c_size = AddInput("c.fen.zst", "");
  WriteZstdFile(in_ / "skipped.zst", "not an input\n");

  const ProgramRun run = Sample({"--max-lines-per-file", "4"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(ReadZstdFile(out_ / "a.fen.zst"), "one\ntwo\nthree\nfour\n");
  EXPECT_EQ(ReadZstdFile(out_ / "b.fen.zst"), "alpha\nbeta\n");
  EXPECT_EQ(ReadZstdFile(out_ / "c.fen.zst"), "");
  EXPECT_FALSE(fs::exists(out_ / "skipped.zst"));

  const std::uint64_t output_bytes = fs::file_size(out_ / "a.fen.zst") +
                                     fs::file_size(out_ / "b.fen.zst") +
                                     fs::file_size(out_ / "c.fen.zst");
  const fs::path manifest = out_ / "sample-manifest.tsv";
  const std::string expected_head =
      "Input files: 3\nOutput files: 3\nCopied lines: 6\nCompressed input bytes: " +
      std::to_string(a_size + b_size + c_size) +
      "\nDecompressed input bytes: " + std::to_string(a.size() + b.size()) +
      "\nCompressed output bytes: " + std::to_string(output_bytes) + "\nElapsed seconds: ";
  ASSERT_EQ(run.out.rfind(expected_head, 0), 0U) << run.out;
  const std::string tail = run.out.substr(expected_head.size());
  // Elapsed seconds as printf's %g prints them.
  const std::string elapsed = tail.substr(0, tail.find('\n'));
  char printed[64];
  std::snprintf(printed, sizeof printed, "%g", std::stod(elapsed));
  EXPECT_EQ(elapsed, printed);
  EXPECT_EQ(tail.substr(tail.find("\n") + 1), "Manifest: " + manifest.string() + "\n");

  EXPECT_EQ(ReadFile(manifest), kManifestHeader + Row("a.fen.zst", 4, a_size, a.size()) +
                                    Row("b.fen.zst", 2, b_size, b.size()) +
                                    Row("c.fen.zst", 0, c_size, 0));
}

TEST_F(SampleFensTest, MaxFilesSamplesOnlyTheFirstFilesInNameOrder) {
  for (const char* name : {"e.fen.zst", "d.fen.zst", "c.fen.zst", "b.fen.zst", "a.fen.zst"}) {
    AddInput(name, Numbered(name, 3));
  }
  const ProgramRun run = Sample({"--max-files", "2", "--max-lines-per-file", "2"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.rfind("Input files: 2\nOutput files: 2\nCopied lines: 4\n", 0), 0U) << run.out;
  EXPECT_EQ(ReadZstdFile(out_ / "a.fen.zst"), "a.fen.zst 1\na.fen.zst 2\n");
  EXPECT_EQ(ReadZstdFile(out_ / "b.fen.zst"), "b.fen.zst 1\nb.fen.zst 2\n");
  for (const char* name : {"c.fen.zst", "d.fen.zst", "e.fen.zst"}) {
    EXPECT_FALSE(fs::exists(out_ / name)) << name;
  }
}

// A tree's sample keeps the tree, in the order of the paths below the input directory; files
// below a subdirectory are not sampled without --recursive.
TEST_F(SampleFensTest, RecursiveSampleRecreatesTheTreeInPathOrder) {
  for (const char* name : {"b/x.fen.zst", "a.fen.zst", "b/a/y.fen.zst"}) {
    fs::create_directories((in_ / name).parent_path());
    AddInput(name, Numbered(name, 3));
  }
  ASSERT_EQ(Sample({"--max-lines-per-file", "1"}).out.rfind("Input files: 1\n", 0), 0U);
  fs::remove_all(out_);

  const ProgramRun run = Sample({"--max-lines-per-file", "1", "--recursive"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::string listed;
  for (const std::string& row : ReadLines(out_ / "sample-manifest.tsv")) {
    listed += row.substr(0, row.find('\t')) + "\n";
  }
  EXPECT_EQ(listed, std::string("input_path\n") + (in_ / "a.fen.zst").string() + "\n" +
                        (in_ / "b/a/y.fen.zst").string() + "\n" + (in_ / "b/x.fen.zst").string() +
                        "\n");
  EXPECT_EQ(ReadZstdFile(out_ / "b/a/y.fen.zst"), "b/a/y.fen.zst 1\n");
  EXPECT_EQ(ReadZstdFile(out_ / "b/x.fen.zst"), "b/x.fen.zst 1\n");
}

TEST_F(SampleFensTest, ManifestOptionMovesTheManifest) {
  AddInput("a.fen.zst", "x\ny\n");
  const fs::path manifest = dir_ / "elsewhere.tsv";
  const ProgramRun run = Sample({"--max-lines-per-file", "1", "--manifest", manifest.string()});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out.substr(run.out.rfind("Manifest: ")), "Manifest: " + manifest.string() + "\n");
  EXPECT_FALSE(fs::exists(out_ / "sample-manifest.tsv"));
  EXPECT_EQ(ReadFile(manifest).rfind(kManifestHeader, 0), 0U);
  EXPECT_NE(ReadFile(manifest).find("\t1\t"), std::string::npos);
}

TEST_F(SampleFensTest, SampleLargerThanTheTextBufferIsCopiedWhole) {
  // About 3 MiB of lines: the copy is handed to the stream several times before the end.
  std::string text;
  for (std::size_t i = 0; text.size() < (3 << 20); ++i) {
    text += "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 " + std::to_string(i) + "\n";
  }
  AddInput("big.fen.zst", text);
  const ProgramRun run = Sample({"--max-lines-per-file", "100000000", "--line-batch-size", "7"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(ReadZstdFile(out_ / "big.fen.zst"), text);
}

TEST_F(SampleFensTest, MissingOrZeroLineCapShowsTheUsage) {
  AddInput("a.fen.zst", "x\n");
  const ProgramRun usage = RunBoardmill({});
  const std::string no_line_cap = "sample-fens needs --max-lines-per-file N, with N at least 1.";
  for (const auto& [options, reason] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, no_line_cap},
           {{"--max-files", "3"}, no_line_cap},
           {{"--max-lines-per-file", "0"}, no_line_cap},
           {{"--max-lines-per-file"}, "--max-lines-per-file needs a number."},
           {{"--max-lines-per-file", "5x"}, "--max-lines-per-file needs a number, not \"5x\"."},
           {{"--max-lines-per-file", "5", "--shards", "4"}, "Unknown option: --shards"},
           {{"--max-lines-per-file", "5", "--manifest"}, "--manifest needs a path."}}) {
    SCOPED_TRACE(options.empty() ? "" : options[0]);
    const ProgramRun run = Sample(options);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, usage.out);
    EXPECT_EQ(run.err, reason + "\n");
  }
  EXPECT_FALSE(fs::exists(out_));
}

TEST_F(SampleFensTest, FailuresPrintOneLine) {
  AddInput("a.fen.zst", "x\n");
  const auto expect_failure = [&](const std::vector<std::string>& options,
                                  const std::string& message) {
    SCOPED_TRACE(message);
    const ProgramRun run = Sample(options);
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, message + "\n");
  };
  expect_failure({"--max-lines-per-file", "1", "--compression-level", "23"},
                 "Sample generation compression level is outside the supported Zstd range.");
  expect_failure({"--max-lines-per-file", "1", "--compression-level", "4294967304"},
                 "Sample generation compression level is outside the supported Zstd range.");
  expect_failure({"--max-lines-per-file", "1", "--line-batch-size", "16777217"},
                 "Line batch size must be at most 16777216.");
  EXPECT_FALSE(fs::exists(out_));
  expect_failure({"--max-lines-per-file", "1", "--manifest", (dir_ / "no" / "m.tsv").string()},
                 "Failed to open sample manifest: " + (dir_ / "no" / "m.tsv").string());
  expect_failure({"--max-lines-per-file", "1", "--manifest", "/dev/full"},
                 "Failed to write sample manifest: /dev/full");
  WriteFile(in_ / "b.fen.zst", "not compressed\n");
  expect_failure({"--max-lines-per-file", "1"},
                 "Failed to decode input file " + (in_ / "b.fen.zst").string() +
                     ": Zstd decompression failed: Unknown frame descriptor");
}

TEST_F(SampleFensTest, SamplingIntoTheInputDirectoryRefusesToOverwriteTheInputs) {
  const std::string text = Numbered("keep me", 5);
  AddInput("a.fen.zst", text);
  const ProgramRun run =
      RunBoardmill({"sample-fens", in_.string(), in_.string(), "--max-lines-per-file", "2"});
  EXPECT_EQ(run.exit_code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "Sample output would overwrite its input file: " + (in_ / "a.fen.zst").string() + "\n");
  EXPECT_EQ(ReadZstdFile(in_ / "a.fen.zst"), text);

  // The same file reached through a link in the output directory.
  fs::create_directories(out_);
  fs::create_symlink(in_ / "a.fen.zst", out_ / "a.fen.zst");
  const ProgramRun linked = Sample({"--max-lines-per-file", "2"});
  EXPECT_EQ(linked.exit_code, 1);
  EXPECT_EQ(linked.err, "Sample output would overwrite its input file: " +
                            (out_ / "a.fen.zst").string() + "\n");
  EXPECT_EQ(ReadZstdFile(in_ / "a.fen.zst"), text);
}

TEST(FenDatasetSamplerTest, ZeroLineCapFailsBeforeTouchingAnything) {
  TempDir dir;
  FenDatasetSamplerSettings settings;
  settings.input_directory = dir / "missing";
  settings.output_directory = dir / "out";
  const auto summary = FenDatasetSampler(settings).Run();
  ASSERT_FALSE(summary.ok());
  EXPECT_EQ(summary.error(), "Sample generation requires --max-lines-per-file > 0.");
  EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(FenDatasetSamplerTest, SummaryCountsMatchTheFilesWritten) {
  TempDir dir;
  WriteZstdFile(dir / "in" / "a.fen.zst", Numbered("line", 10));
  FenDatasetSamplerSettings settings;
  settings.input_directory = dir / "in";
  settings.output_directory = dir / "out";
  settings.max_lines_per_file = 3;
  settings.line_batch_size = 0;
  const auto summary = FenDatasetSampler(settings).Run();
  ASSERT_TRUE(summary.ok()) << summary.error();
  EXPECT_EQ(summary->copied_lines, 3U);
  EXPECT_EQ(summary->compressed_output_bytes, fs::file_size(dir / "out" / "a.fen.zst"));
  EXPECT_EQ(summary->manifest_path, dir / "out" / "sample-manifest.tsv");
  EXPECT_EQ(ReadZstdFile(dir / "out" / "a.fen.zst"), Numbered("line", 3));
}

TEST_F(SampleFensTest, ZstdCommandLineToolReadsEverySampleAsWeDo) {
  if (RunShell("command -v zstd").exit_code != 0) GTEST_SKIP() << "zstd tool not installed";
  std::string big;
  for (std::size_t i = 0; big.size() < (2 << 20); ++i) big += "line " + std::to_string(i) + "\r\n";
  AddInput("big.fen.zst", big);
  AddInput("empty.fen.zst", "");
  AddInput("small.fen.zst", "a\nb\n");
  const ProgramRun run = Sample({"--max-lines-per-file", "1000000", "--compression-level", "-3"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  for (const char* name : {"big.fen.zst", "empty.fen.zst", "small.fen.zst"}) {
    const fs::path path = out_ / name;
    const ProgramRun tool = RunShell("zstd -q -dc '" + path.string() + "'");
    ASSERT_EQ(tool.exit_code, 0) << path << ": " << tool.err;
    std::string ours;
    const auto read = compression::VisitZstdLineBatches(
        path, 4096, [&](std::span<const compression::ZstdLineBatchEntry> batch) {
          for (const auto& entry : batch) ours.append(entry.text).push_back('\n');
          return util::Result<bool>(true);
        });
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(tool.out, ours) << path;
  }
}

}  // namespace
}  // namespace boardmill::io
