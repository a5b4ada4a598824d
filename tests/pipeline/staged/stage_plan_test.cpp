#include "pipeline/staged/stage_plan.h"

#include <gtest/gtest.h>

namespace boardmill::pipeline {
namespace {

StagePlan Plan(std::uint64_t max_threads, std::uint64_t files, bool autotune = false) {
  ConversionOptions options;
  options.max_threads = max_threads;
  options.enable_autotune = autotune;
  return PlanStages(options, files, 16);
}

TEST(StagePlanBudget, MaxThreadsElseHardwareElseTwoAndNeverBelowTwo) {
  ConversionOptions options;
  EXPECT_EQ(PlanStages(options, 10, 12).thread_budget, 12U);
  EXPECT_EQ(PlanStages(options, 10, 0).thread_budget, 2U);
  EXPECT_EQ(PlanStages(options, 10, 1).thread_budget, 2U);
  options.max_threads = 1;
  EXPECT_EQ(PlanStages(options, 10, 12).thread_budget, 2U);
  options.max_threads = 40;
  EXPECT_EQ(PlanStages(options, 10, 12).thread_budget, 40U);
}

TEST(StagePlanDefaults, FollowTheBudgetAndTheFileCount) {
  // reader, decompress, line_index, parse, compress
  EXPECT_EQ(DefaultStageWorkers(2, 100), (ElasticCounts{2, 2, 2, 1, 4}));
  EXPECT_EQ(DefaultStageWorkers(64, 100), (ElasticCounts{2, 5, 2, 47, 8}));
  EXPECT_EQ(DefaultStageWorkers(256, 100), (ElasticCounts{4, 10, 4, 223, 15}));
  EXPECT_EQ(DefaultStageWorkers(64, 1), (ElasticCounts{1, 1, 1, 53, 8}));
  EXPECT_EQ(DefaultStageWorkers(64, 0), (ElasticCounts{1, 1, 1, 53, 8}));
  EXPECT_EQ(DefaultStageWorkers(16, 100), (ElasticCounts{2, 2, 2, 6, 4}));
}

TEST(StagePlanTrimming, TwoThreadsStartEveryStageAtOne) {
  const StagePlan plan = Plan(2, 100);
  EXPECT_EQ(plan.pool_sizes, (ElasticCounts{2, 2, 2, 1, 4}));
  EXPECT_EQ(plan.initial_active, (ElasticCounts{1, 1, 1, 1, 1}));
}

TEST(StagePlanTrimming, SixtyFourThreadsNeedNoTrimming) {
  const StagePlan plan = Plan(64, 100);
  EXPECT_EQ(plan.pool_sizes, (ElasticCounts{2, 5, 2, 47, 8}));
  EXPECT_EQ(plan.initial_active, (ElasticCounts{2, 5, 2, 47, 8}));
}

TEST(StagePlanTrimming, TakesFromParseThenCompressThenLineIndexDecompressReader) {
  // Defaults for 12 threads: reader 2, decompress 2, line_index 2, compress 4, parse 2; sum 12.
  EXPECT_EQ(Plan(12, 100).initial_active, (ElasticCounts{2, 2, 2, 2, 4}));
  // 9 threads: parse 1 -> 11 -> compress down to 1 -> 8 ... stops once the sum fits.
  EXPECT_EQ(Plan(9, 100).initial_active, (ElasticCounts{2, 2, 2, 1, 2}));
  EXPECT_EQ(Plan(6, 100).initial_active, (ElasticCounts{2, 1, 1, 1, 1}));
}

TEST(StagePlanTrimming, AnyExplicitStageCountDisablesTrimming) {
  ConversionOptions options;
  options.max_threads = 2;
  options.parse_workers = 3;
  const StagePlan plan = PlanStages(options, 100, 16);
  EXPECT_EQ(plan.pool_sizes, (ElasticCounts{2, 2, 2, 3, 4}));
  EXPECT_EQ(plan.initial_active, (ElasticCounts{2, 2, 2, 3, 4}));

  options.parse_workers = 0;
  options.reader_workers = 1;
  EXPECT_EQ(PlanStages(options, 100, 16).initial_active, (ElasticCounts{1, 2, 2, 1, 4}));
}

TEST(StagePlanAutotune, RaisesParseAndCompressPoolsButNotTheirActiveCounts) {
  const StagePlan plan = Plan(64, 100, /*autotune=*/true);
  EXPECT_EQ(plan.pool_sizes, (ElasticCounts{2, 5, 2, 64, 16}));
  EXPECT_EQ(plan.initial_active, (ElasticCounts{2, 5, 2, 47, 8}));

  const StagePlan small = Plan(8, 100, /*autotune=*/true);
  EXPECT_EQ(small.pool_sizes[StageIndex(PipelineStage::kParse)], 8U);
  EXPECT_EQ(small.pool_sizes[StageIndex(PipelineStage::kCompress)], 4U);

  ConversionOptions options;
  options.max_threads = 64;
  options.enable_autotune = true;
  options.parse_workers = 5;
  options.compress_workers = 3;
  const StagePlan explicit_plan = PlanStages(options, 100, 16);
  EXPECT_EQ(explicit_plan.pool_sizes[StageIndex(PipelineStage::kParse)], 5U);
  EXPECT_EQ(explicit_plan.pool_sizes[StageIndex(PipelineStage::kCompress)], 3U);
}

}  // namespace
}  // namespace boardmill::pipeline
