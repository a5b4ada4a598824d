#pragma once

// The sample data set converted once per test program, for the tests of the C library: its
// output directory and every shard's records, read back straight from the files.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "conversion_run_support.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::testing {

class SampleConversion {
 public:
  static constexpr std::uint64_t kShards = 7;  // not a power of two: uneven splits

  static const SampleConversion& Get() {
    static const std::unique_ptr<SampleConversion> conversion(new SampleConversion());
    return *conversion;
  }

  std::filesystem::path directory() const { return temp_.path() / "out"; }
  std::filesystem::path Shard(std::uint64_t id) const {
    return shards::ShardPath(directory(), id, kShards);
  }
  // Every shard's records in stored order, 32 bytes each.
  const std::vector<std::string>& shard_records() const { return shard_records_; }
  // All records, shard after shard.
  std::string AllRecords() const {
    std::string all;
    for (const std::string& records : shard_records_) all += records;
    return all;
  }

 private:
  SampleConversion() {
    const ProgramRun run =
        Convert(BOARDMILL_SAMPLE_DATA_DIR, directory(), {"--shards", std::to_string(kShards)});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    for (std::uint64_t id = 0; id < kShards; ++id)
      shard_records_.push_back(ReadZstdFile(Shard(id)));
  }

  TempDir temp_;
  std::vector<std::string> shard_records_;
};

}  // namespace boardmill::testing
