#include "pipeline/parallel/worker_caps.h"

#include <gtest/gtest.h>

#include "util/stream_limit.h"

namespace boardmill::pipeline {
namespace {

constexpr std::uint64_t kManyFiles = 100000;
constexpr std::uint64_t kManyThreads = 100000;
constexpr std::uint64_t kStreamLimit = 8192;

ConversionOptions WithShards(std::uint64_t shards) {
  ConversionOptions options;
  options.output_shard_count = shards;
  return options;
}

// A worker holds three streams (input, fragment, reject rows) whatever the shard count.
TEST(WorkerCapsTest, StreamLimitCapsWorkersAtThreeStreamsEach) {
  const WorkerCaps caps = ComputeWorkerCaps(WithShards(256), kManyFiles, 64, kStreamLimit);
  EXPECT_EQ(caps.requested_worker_cap, 64u);
  EXPECT_EQ(caps.pending_file_cap, kManyFiles);
  EXPECT_EQ(caps.stdio_limit, kStreamLimit);
  EXPECT_EQ(caps.reserved_stdio_streams, 256u);
  EXPECT_EQ(caps.streams_per_worker, 3u);
  EXPECT_EQ(caps.stdio_worker_cap, 2645u);
  EXPECT_EQ(caps.effective_max_workers, 64u);

  const WorkerCaps tight = ComputeWorkerCaps(WithShards(1024), kManyFiles, kManyThreads, 300);
  EXPECT_EQ(tight.stdio_worker_cap, 14u);
  EXPECT_EQ(tight.effective_max_workers, 14u);
}

TEST(WorkerCapsTest, TooSmallAStreamLimitStillLeavesOneWorker) {
  const WorkerCaps caps = ComputeWorkerCaps(WithShards(256), kManyFiles, 64, 258);
  EXPECT_EQ(caps.reserved_stdio_streams, 256u);
  EXPECT_EQ(caps.stdio_worker_cap, 1u);
  EXPECT_EQ(caps.effective_max_workers, 1u);

  const WorkerCaps single = ComputeWorkerCaps(WithShards(256), kManyFiles, 64, 1);
  EXPECT_EQ(single.reserved_stdio_streams, 0u);
  EXPECT_EQ(single.stdio_worker_cap, 1u);
  EXPECT_EQ(single.effective_max_workers, 1u);
}

TEST(WorkerCapsTest, PendingFilesAndMaxThreadsCapWorkers) {
  const WorkerCaps few_files = ComputeWorkerCaps(WithShards(256), 3, 64, kStreamLimit);
  EXPECT_EQ(few_files.pending_file_cap, 3u);
  EXPECT_EQ(few_files.effective_max_workers, 3u);

  ConversionOptions options = WithShards(256);
  options.max_threads = 100;
  const WorkerCaps asked = ComputeWorkerCaps(options, kManyFiles, 4, kStreamLimit);
  EXPECT_EQ(asked.requested_worker_cap, 100u);
  EXPECT_EQ(asked.effective_max_workers, 100u);

  options.max_threads = 2;
  EXPECT_EQ(ComputeWorkerCaps(options, kManyFiles, 64, kStreamLimit).effective_max_workers, 2u);
}

TEST(WorkerCapsTest, EveryCapIsAtLeastOne) {
  const WorkerCaps caps = ComputeWorkerCaps(WithShards(256), 0, 0, kStreamLimit);
  EXPECT_EQ(caps.requested_worker_cap, 1u);
  EXPECT_EQ(caps.pending_file_cap, 1u);
  EXPECT_EQ(caps.effective_max_workers, 1u);
}

TEST(WorkerCapsTest, ZeroStreamLimitAsksTheProcess) {
  const std::uint64_t current = util::CurrentStreamLimit();
  ASSERT_NE(current, 0u);
  const WorkerCaps caps = ComputeWorkerCaps(WithShards(1), kManyFiles, kManyThreads, 0);
  EXPECT_EQ(caps.stdio_limit, current);
  EXPECT_NE(caps.stdio_worker_cap, 0u);
  EXPECT_LE(caps.effective_max_workers, caps.stdio_worker_cap);
}

TEST(ActiveWorkersTest, MinimumAndInitialCountsStayWithinThePool) {
  ConversionOptions options;
  options.enable_autotune = true;
  options.min_workers = 4;
  options.initial_workers = 2;
  EXPECT_EQ(MinimumActiveWorkers(options, 30), 4u);
  EXPECT_EQ(InitialActiveWorkers(options, 30), 4u);  // the minimum wins

  options.initial_workers = 0;  // not given: 8, or the whole pool if smaller
  EXPECT_EQ(InitialActiveWorkers(options, 30), 8u);
  EXPECT_EQ(InitialActiveWorkers(options, 5), 5u);

  options.initial_workers = 100;
  EXPECT_EQ(InitialActiveWorkers(options, 30), 30u);

  options.min_workers = 0;
  EXPECT_EQ(MinimumActiveWorkers(options, 30), 1u);
  options.min_workers = 50;
  EXPECT_EQ(MinimumActiveWorkers(options, 30), 30u);
  EXPECT_EQ(InitialActiveWorkers(options, 30), 30u);

  options.enable_autotune = false;  // without the tuner every worker is active from the start
  options.min_workers = 1;
  options.initial_workers = 2;
  EXPECT_EQ(InitialActiveWorkers(options, 30), 30u);
}

TEST(MergeThreadCountTest, QuarterOfTheWorkersUnlessGiven) {
  ConversionOptions options = WithShards(256);
  EXPECT_EQ(MergeThreadCount(options, 30), 7u);
  EXPECT_EQ(MergeThreadCount(options, 3), 1u);
  EXPECT_EQ(MergeThreadCount(WithShards(4), 100), 4u);  // never more threads than shards

  options.merge_threads = 1000;  // an explicit count is used unchanged
  EXPECT_EQ(MergeThreadCount(options, 30), 1000u);
}

TEST(AutotuneLimitsTest, CoverThePoolAndTheFixedRanges) {
  ConversionOptions options;
  options.min_workers = 3;
  options.tuning_interval_seconds = 0.25;
  const AutotuneLimits limits = ComputeAutotuneLimits(options, 30);
  EXPECT_EQ(limits.lowest, (WorkerKnobs{3, 256, 256, 1}));
  EXPECT_EQ(limits.highest, (WorkerKnobs{30, 32768, 32768, 22}));
  EXPECT_EQ(limits.tuning_interval_seconds, 0.25);
}

}  // namespace
}  // namespace boardmill::pipeline
