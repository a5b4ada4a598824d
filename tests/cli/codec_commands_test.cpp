#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace boardmill {
namespace {

using namespace boardmill::testing;

// The usage text byte for byte, kept as a file so that a change to it shows as a diff of text.
const std::string kUsage = ReadFile(TestDataPath("usage.txt"));

TEST(UsageTest, IsTwentyFourLines) {
  EXPECT_EQ(std::count(kUsage.begin(), kUsage.end(), '\n'), 24);
}

class HelpRunTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HelpRunTest, PrintsTheUsageAsAnAnswer) {
  ExpectRun(RunBoardmill(GetParam()), 0, kUsage, "");
}

INSTANTIATE_TEST_SUITE_P(AskedForHelp, HelpRunTest,
                         ::testing::Values(std::vector<std::string>{"--help"},
                                           std::vector<std::string>{"-h"},
                                           std::vector<std::string>{"help"}));

TEST(VersionTest, PrintsTheProjectVersion) {
  ExpectRun(RunBoardmill({"--version"}), 0, "boardmill " BOARDMILL_PROJECT_VERSION "\n", "");
}

struct CommandCase {
  std::vector<std::string> arguments;
  int exit_code;
  const char* out;
  const char* err;
};

// A command that succeeds and prints `out`, or fails with exit code 1 and prints `err`.
CommandCase Prints(std::vector<std::string> arguments, const char* out) {
  return {std::move(arguments), 0, out, ""};
}
CommandCase Fails(std::vector<std::string> arguments, const char* err) {
  return {std::move(arguments), 1, "", err};
}

void PrintTo(const CommandCase& c, std::ostream* out) {
  for (const std::string& argument : c.arguments) *out << '"' << argument << "\" ";
}

class CodecCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CodecCommandTest, PrintsExactly) {
  ExpectRun(RunBoardmill(GetParam().arguments), GetParam().exit_code, GetParam().out,
            GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    EncodeFen, CodecCommandTest,
    ::testing::Values(
        Prints({"encode-fen", "rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1"},
               "08fece9aebbc31c618638c000000002184104208679454c67940000000000000\n"),
        Prints({"encode-fen", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"},
               "09fece9aebbc31c618638c000010001042084208679454c6f914100000000000\n"),
        // Arguments after the FEN are ignored; a board alone takes the defaults.
        Prints({"encode-fen", "8/8/8/8/8/8/8/K6k", "--shards", "3"},
               "8003000000000000000040000000000000000000000000000000000000000000\n"),
        Prints({"encode-fen", "8/8/8/8/8/8/8/K6k b - - 100 300"},
               "81030000000000000000244b4000000000000000000000000000000000000000\n"),
        Fails({"encode-fen", "8/8/8/8/8/8/8/8 w - - 0 1"},
              "FEN must contain exactly one white king and one black king.\n"),
        Fails({"encode-fen", ""}, "FEN is missing the board field.\n"),
        Fails({"encode-fen", "8/8/8/8/8/8/8/K6k w - - 128 1"},
              "Rule-50 counter exceeds PackedSfen capacity.\n"),
        Fails({"encode-fen",
               "qqqqqqqq/qqqqqqqq/qqqqqqqq/qqqqkqqq/QQQQKQQQ/QQQQQQQQ/"
               "QQQQQQQQ/QQQQQQQQ"},
              "Position has too many pieces to fit in a PackedSfen record.\n")));

INSTANTIATE_TEST_SUITE_P(
    RoundtripFen, CodecCommandTest,
    ::testing::Values(
        Prints({"roundtrip-fen", "8/8/8/8/8/8/8/K6k"}, "8/8/8/8/8/8/8/K6k w - - 0 1\n"),
        Prints({"roundtrip-fen", "  4k3/8/8/8/8/8/8/4K3   b qkQK e3 007 0012 x y", "extra"},
               "4k3/8/8/8/8/8/8/4K3 b KQkq e3 7 12\n"),
        Prints({"roundtrip-fen", "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1"},
               "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1\n"),
        Fails({"roundtrip-fen", "8/8/8/8/8/8/8/K6k w - e4"},
              "En passant square must be on rank 3 or 6.\n"),
        Fails({"roundtrip-fen", "8/8/8/8/8/8/8/K6k w - - 0 0"}, "Fullmove number is invalid.\n")));

}  // namespace
}  // namespace boardmill
