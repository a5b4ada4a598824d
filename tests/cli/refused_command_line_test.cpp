// Command lines that are not understood: the usage on standard output, one line on standard error
// naming the argument and what is wrong with it, exit code 1.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace boardmill {
namespace {

using namespace boardmill::testing;
namespace fs = std::filesystem;

const std::string kUsage = ReadFile(TestDataPath("usage.txt"));

struct RefusedLine {
  std::vector<std::string> arguments;
  const char* reason;
};

void PrintTo(const RefusedLine& line, std::ostream* out) {
  for (const std::string& argument : line.arguments) *out << '"' << argument << "\" ";
}

class RefusedCommandLineTest : public ::testing::TestWithParam<RefusedLine> {};

TEST_P(RefusedCommandLineTest, ShowsTheUsageAndNamesTheArgumentAtFault) {
  ExpectRun(RunBoardmill(GetParam().arguments), 1, kUsage, std::string(GetParam().reason) + "\n");
}

INSTANTIATE_TEST_SUITE_P(NoOrUnknownCommand, RefusedCommandLineTest,
                         ::testing::Values(RefusedLine{{}, "No command given."},
                                           RefusedLine{{"Help"}, "Unknown command: Help"},
                                           RefusedLine{{"--Version"}, "Unknown command: --Version"},
                                           RefusedLine{{"Convert"}, "Unknown command: Convert"},
                                           RefusedLine{{"SCAN", "."}, "Unknown command: SCAN"},
                                           RefusedLine{{""}, "Unknown command: "},
                                           RefusedLine{{"encode-fen "},
                                                       "Unknown command: encode-fen "}));

INSTANTIATE_TEST_SUITE_P(
    MissingOperands, RefusedCommandLineTest,
    ::testing::Values(
        RefusedLine{{"encode-fen"}, "encode-fen needs \"<fen>\"."},
        RefusedLine{{"roundtrip-fen"}, "roundtrip-fen needs \"<fen>\"."},
        RefusedLine{{"scan"}, "scan needs <directory>."},
        RefusedLine{{"convert", "in"}, "convert needs <input_dir> <output_dir>."},
        RefusedLine{{"sample-fens", "in"}, "sample-fens needs <input_dir> <output_dir>."},
        RefusedLine{{"verify-shards"}, "verify-shards needs <output_dir>."},
        RefusedLine{{"decode-shards"}, "decode-shards needs <output_dir | shard_file>."}));

INSTANTIATE_TEST_SUITE_P(
    UnknownOptionOrExtraArgument, RefusedCommandLineTest,
    ::testing::Values(
        RefusedLine{{"convert", "in", "out", "--shard", "4"}, "Unknown option: --shard"},
        RefusedLine{{"convert", "in", "out", "--Shards", "4"}, "Unknown option: --Shards"},
        RefusedLine{{"convert", "in", "out", "--sequential", "extra"},
                    "Unexpected argument: extra"},
        RefusedLine{{"sample-fens", "in", "out", "--max-lines-per-file", "5", "--verify-output"},
                    "Unknown option: --verify-output"},
        RefusedLine{{"verify-shards", "out", "extra"}, "Unexpected argument: extra"},
        RefusedLine{{"decode-shards", ".", "--fen"}, "Unknown option: --fen"}));

INSTANTIATE_TEST_SUITE_P(
    MissingValue, RefusedCommandLineTest,
    ::testing::Values(
        RefusedLine{{"convert", "in", "out", "--shards"}, "--shards needs a number."},
        RefusedLine{{"convert", "in", "out", "--reject-log"}, "--reject-log needs a path."},
        RefusedLine{{"verify-shards", ".", "--quick", "--shards"}, "--shards needs a number."},
        RefusedLine{{"decode-shards", ".", "--limit"}, "--limit needs a number."}));

INSTANTIATE_TEST_SUITE_P(
    ValueNotANumber, RefusedCommandLineTest,
    ::testing::Values(RefusedLine{{"convert", "in", "out", "--shards", "12abc"},
                                  "--shards needs a number, not \"12abc\"."},
                      RefusedLine{{"convert", "in", "out", "--compression-level", ""},
                                  "--compression-level needs a number, not \"\"."},
                      RefusedLine{
                          {"sample-fens", "in", "out", "--max-lines-per-file", "--progress"},
                          "--max-lines-per-file needs a number, not \"--progress\"."},
                      RefusedLine{{"decode-shards", ".", "--limit", "3x"},
                                  "--limit needs a number, not \"3x\"."}));

// The line cap of a sample is required and positive; the last one given is the one checked.
INSTANTIATE_TEST_SUITE_P(
    MissingOrOutOfRange, RefusedCommandLineTest,
    ::testing::Values(RefusedLine{{"sample-fens", "in", "out"},
                                  "sample-fens needs --max-lines-per-file N, with N at least 1."},
                      RefusedLine{{"sample-fens", "in", "out", "--max-lines-per-file", "5",
                                   "--max-lines-per-file", "0"},
                                  "sample-fens needs --max-lines-per-file N, with N at least 1."}));

// A shard count of 0 is refused like the other bounds on the shard count: by the run, before it
// touches the output directory, with one line and no usage, in every mode.
class ZeroShardsTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ZeroShardsTest, IsRefusedBeforeTheRunWritesAnything) {
  TempDir temp;
  ExpectRun(RunBoardmill({"convert", BOARDMILL_SAMPLE_DATA_DIR, (temp / "out").string(), GetParam(),
                          "--shards", "0"}),
            1, "", "Output shard count must be at least 1.\n");
  EXPECT_FALSE(fs::exists(temp / "out"));
}

INSTANTIATE_TEST_SUITE_P(EveryMode, ZeroShardsTest,
                         ::testing::Values("--sequential", "--parallel", "--staged"));

}  // namespace
}  // namespace boardmill
