// Every command checks that its standard output was delivered: with standard output on a full
// device, a run that did its work still fails with one line on standard error.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill {
namespace {

namespace fs = std::filesystem;
using namespace boardmill::testing;

class OutputErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(BOARDMILL_SAMPLE_DATA_DIR, temp_ / "in");
    ASSERT_EQ(Convert(temp_ / "in", temp_ / "done", {"--shards", "4"}).exit_code, 0);
  }

  // `boardmill` with these arguments, standard output on /dev/full.
  ProgramRun RunOnFullDevice(const std::vector<std::string>& arguments) {
    std::string command = QuoteForShell(BOARDMILL_BINARY);
    for (const std::string& argument : arguments)
      command.append(" ").append(QuoteForShell(argument));
    return RunShell(command.append(" >/dev/full"));
  }

  TempDir temp_;
};

TEST_F(OutputErrorsTest, EveryCommandFailsWhenItsOutputCannotBeWritten) {
  const std::string in = (temp_ / "in").string();
  const std::string done = (temp_ / "done").string();
  const std::vector<std::vector<std::string>> commands = {
      {"--help"},
      {"--version"},
      {"scan", in},
      {"encode-fen", kFens[0]},
      {"roundtrip-fen", kFens[0]},
      {"verify-shards", done},
      {"decode-shards", done},
      ConvertArguments(temp_ / "in", temp_ / "out", {"--shards", "4"}),
      {"sample-fens", in, (temp_ / "sample").string(), "--max-lines-per-file", "5"},
  };
  for (const std::vector<std::string>& arguments : commands) {
    const ProgramRun run = RunOnFullDevice(arguments);
    EXPECT_EQ(run.exit_code, 1) << arguments[0];
    EXPECT_EQ(run.err, "Failed to write standard output: No space left on device\n")
        << arguments[0];
  }
}

}  // namespace
}  // namespace boardmill
