#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "conversion_run_support.h"
#include "test_support.h"

namespace boardmill::testing {

// A suite whose tests read the sample data set converted once, before its first test, into
// kSampleShards shards in SampleOutput(); removed after its last test.
class SampleSuite : public ::testing::Test {
 public:
  static constexpr std::uint64_t kSampleShards = 8;

 protected:
  static void SetUpTestSuite() {
    sample_temp_ = new TempDir();
    const ProgramRun run = Convert(BOARDMILL_SAMPLE_DATA_DIR, SampleOutput(),
                                   {"--shards", std::to_string(kSampleShards)});
    ASSERT_EQ(run.exit_code, 0) << run.err;
  }
  static void TearDownTestSuite() {
    delete sample_temp_;
    sample_temp_ = nullptr;
  }

  static std::filesystem::path SampleOutput() { return sample_temp_->path() / "out"; }

 private:
  static inline TempDir* sample_temp_ = nullptr;
};

}  // namespace boardmill::testing
