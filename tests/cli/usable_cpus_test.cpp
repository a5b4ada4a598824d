// The default thread counts follow the CPUs the process may use, not the machine's: the binary
// is run under taskset, which narrows its affinity mask as a container's cpuset would.

#include <gtest/gtest.h>
#include <sched.h>

#include <filesystem>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {
namespace {

namespace fs = std::filesystem;

// The CPUs this test may run on, in id order.
std::vector<int> AllowedCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  std::vector<int> cpus;
  if (sched_getaffinity(0, sizeof set, &set) != 0) return cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  }
  return cpus;
}

class UsableCpusTest : public ConversionDirectoriesTest<> {
 protected:
  void SetUp() override {
    if (RunShell("command -v taskset").exit_code != 0) {
      GTEST_SKIP() << "taskset is not installed (Debian package util-linux)";
    }
    MakeInputs(in_, 3, 40);
  }

  // A conversion run on the CPUs `cpus` ("0" or "0,1") with the options `extra`.
  ProgramRun ConvertOn(const std::string& cpus, const std::vector<std::string>& extra) {
    // Built by appending: GCC 12 at -O3 misreads `" " + std::string` as an overlapping copy.
    std::string command = "taskset -c ";
    command.append(cpus).append(" ").append(QuoteForShell(BOARDMILL_BINARY));
    for (const std::string& argument : ConvertArguments(in_, out_, extra)) {
      command.append(" ").append(QuoteForShell(argument));
    }
    return RunShell(command);
  }

  std::map<std::string, std::string> Summary() const {
    return SummaryValues(out_ / "run-summary.txt");
  }
};

TEST_F(UsableCpusTest, OneCpuMakesTheDefaultRunSequentialAndMaxThreadsStillWins) {
  const std::string cpu = std::to_string(AllowedCpus().at(0));
  const ProgramRun alone = ConvertOn(cpu, {"--shards", "4"});
  ASSERT_EQ(alone.exit_code, 0) << alone.err;
  EXPECT_NE(alone.out.find("Execution mode: sequential\n"), std::string::npos) << alone.out;
  EXPECT_NE(alone.out.find("\nUsable CPUs: 1\n"), std::string::npos) << alone.out;
  EXPECT_EQ(Summary().at("execution_mode"), "sequential");
  EXPECT_EQ(Summary().at("usable_cpus"), "1");

  const ProgramRun asked = ConvertOn(cpu, {"--shards", "4", "--max-threads", "3"});
  ASSERT_EQ(asked.exit_code, 0) << asked.err;
  EXPECT_EQ(Summary().at("execution_mode"), "parallel");
  EXPECT_EQ(Summary().at("requested_worker_cap"), "3");
  EXPECT_EQ(Summary().at("usable_cpus"), "1");
}

TEST_F(UsableCpusTest, TwoCpusGiveTwoParallelWorkers) {
  const std::vector<int> cpus = AllowedCpus();
  if (cpus.size() < 2) GTEST_SKIP() << "this test may use only one CPU";
  const ProgramRun run =
      ConvertOn(std::to_string(cpus[0]) + "," + std::to_string(cpus[1]), {"--shards", "4"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const std::map<std::string, std::string> summary = Summary();
  // A CPU quota below two CPUs would make the run sequential; the summary says which it saw.
  if (summary.at("usable_cpus") == "1") GTEST_SKIP() << "a CPU quota allows one CPU";
  EXPECT_EQ(summary.at("usable_cpus"), "2");
  EXPECT_EQ(summary.at("execution_mode"), "parallel");
  EXPECT_EQ(summary.at("requested_worker_cap"), "2");
}

}  // namespace
}  // namespace boardmill::testing
