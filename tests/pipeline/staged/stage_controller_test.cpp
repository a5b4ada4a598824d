#include "pipeline/staged/stage_controller.h"

#include <gtest/gtest.h>

namespace boardmill::pipeline {
namespace {

constexpr std::size_t kReader = StageIndex(PipelineStage::kReader);
constexpr std::size_t kDecompress = StageIndex(PipelineStage::kDecompress);
constexpr std::size_t kLineIndex = StageIndex(PipelineStage::kLineIndex);
constexpr std::size_t kParse = StageIndex(PipelineStage::kParse);
constexpr std::size_t kCompress = StageIndex(PipelineStage::kCompress);

// A pipeline where nothing calls for a move: every stage busy, no stage starved or blocked,
// queues a third full, budget not used up.
ControllerObservation Steady() {
  ControllerObservation seen;
  seen.active = {1, 1, 1, 1, 1};
  seen.caps = {4, 4, 4, 8, 8};
  seen.thread_budget = 10;
  for (StageRatios& ratios : seen.ratios) ratios = {0.9, 0.0, 0.0};
  seen.write_busy_ratio = 0.5;
  seen.depths = {0, 5, 5, 5, 5, 3};
  seen.capacities = {16, 16, 16, 16};
  return seen;
}

void ExpectDecision(const ControllerDecision& decision, const ElasticCounts& active,
                    const std::string& action, const std::string& reason) {
  EXPECT_EQ(decision.active, active);
  EXPECT_EQ(decision.action, action);
  EXPECT_EQ(decision.reason, reason);
}

TEST(StageControllerRules, AQuietPipelineHoldsSteady) {
  ExpectDecision(DecideStageMove(Steady()), {1, 1, 1, 1, 1}, "hold", "steady");
}

TEST(StageControllerRules, ParseBackpressureGrowsCompressByOneOrTwo) {
  ControllerObservation seen = Steady();
  seen.depths.compress = 9;  // fill 0.5625: backpressure, one slot
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 2}, "compress+1", "compress-backlog");
  seen.depths.compress = 12;  // fill 0.75: two slots
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 3}, "compress+2", "compress-backlog");
  seen = Steady();
  seen.ratios[kParse].full = 0.06;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 2}, "compress+1", "compress-backlog");
}

TEST(StageControllerRules, WriterSaturationHoldsInsteadOfGrowingCompress) {
  ControllerObservation seen = Steady();
  seen.depths.compress = 12;
  seen.backlog_change = 33;  // above max(2 x 1, 32)
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 1}, "hold", "writer-saturated");
  seen.backlog_change = 32;
  EXPECT_EQ(DecideStageMove(seen).reason, "compress-backlog");
  seen.backlog_change = 33;
  seen.write_busy_ratio = 0.01;
  EXPECT_EQ(DecideStageMove(seen).reason, "compress-backlog");
}

TEST(StageControllerRules, AFallingWriterBacklogNeverCountsAsSaturation) {
  ControllerObservation seen = Steady();
  seen.backlog_change = -500;
  seen.write_busy_ratio = 1.0;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 1}, "hold", "steady");
}

// Parse and line-index starved: little queued for parse, both waiting for input.
ControllerObservation ParseAndLineIndexStarved() {
  ControllerObservation seen = Steady();
  seen.depths.parse = 0;
  seen.depths.line_index = 0;
  seen.depths.decompress = 2;
  seen.ratios[kParse].empty = 0.5;
  seen.ratios[kLineIndex].empty = 0.5;
  return seen;
}

TEST(StageControllerRules, StarvationUpstreamGrowsTheStageThatFeedsIt) {
  ControllerObservation seen = ParseAndLineIndexStarved();
  ExpectDecision(DecideStageMove(seen), {1, 1, 2, 1, 1}, "line_index+1", "parse-starved");

  seen.ratios[kDecompress].empty = 0.5;  // decompress starved too, nothing left to read
  ExpectDecision(DecideStageMove(seen), {1, 2, 1, 1, 1}, "decompress+1", "parse-starved");

  seen.depths.file_queue = 4;  // ... but files are still waiting for a reader
  ExpectDecision(DecideStageMove(seen), {2, 1, 1, 1, 1}, "reader+1", "decompress-starved");
}

TEST(StageControllerRules, ParseIsNotStarvedWhenNothingIsLeftUpstream) {
  ControllerObservation seen = ParseAndLineIndexStarved();
  seen.depths.decompress = 0;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 1}, "hold", "steady");
}

TEST(StageControllerRules, CompressStarvationGrowsParseByTwoWhenItsQueueIsEmpty) {
  ControllerObservation seen = Steady();
  seen.depths.compress = 0;
  seen.ratios[kCompress].empty = 0.2;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 2, 1}, "parse+1", "compress-starved");
  seen.depths.parse = 0;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 3, 1}, "parse+2", "compress-starved");
}

TEST(StageControllerRules, BackpressureGrowsTheStageBehindTheFullQueue) {
  ControllerObservation seen = Steady();
  seen.depths.decompress = 10;  // fill 0.625
  ExpectDecision(DecideStageMove(seen), {1, 2, 1, 1, 1}, "decompress+1", "read-backpressure");

  seen = Steady();
  seen.ratios[kDecompress].full = 0.2;
  ExpectDecision(DecideStageMove(seen), {1, 1, 2, 1, 1}, "line_index+1", "decompress-backpressure");

  seen = Steady();
  seen.depths.parse = 10;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 2, 1}, "parse+1", "line-index-backpressure");
  seen.active[kParse] = seen.caps[kParse];  // parse at its cap: the rule does not apply
  ExpectDecision(DecideStageMove(seen), seen.active, "hold", "steady");
}

TEST(StageControllerMoves, ATargetAtItsCapHolds) {
  ControllerObservation seen = Steady();
  seen.depths.decompress = 10;
  seen.active[kDecompress] = 4;
  ExpectDecision(DecideStageMove(seen), seen.active, "hold", "target-maxed");
}

TEST(StageControllerMoves, AMoveStopsAtTheTargetsCap) {
  ControllerObservation seen = Steady();
  seen.depths.compress = 12;
  seen.caps[kCompress] = 2;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 2}, "compress+1", "compress-backlog");
}

TEST(StageControllerMoves, AnExhaustedBudgetWithoutADonorHolds) {
  ControllerObservation seen = Steady();
  seen.thread_budget = 5;
  seen.depths.decompress = 10;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 1, 1}, "hold", "no-donor");
}

TEST(StageControllerMoves, AnExhaustedBudgetTakesTheSlotFromARelaxedDonor) {
  ControllerObservation seen = Steady();
  seen.thread_budget = 6;
  seen.active = {1, 1, 1, 2, 1};
  seen.depths.decompress = 10;
  // Parse is busy, so the first choice is skipped and compress (one slot) cannot give: none.
  ExpectDecision(DecideStageMove(seen), seen.active, "hold", "no-donor");
  seen.ratios[kParse].busy = 0.5;
  ExpectDecision(DecideStageMove(seen), {1, 2, 1, 1, 1}, "decompress+1",
                 "read-backpressure from parse");
  seen.ratios[kParse].busy = 0.9;
  seen.active = {1, 1, 1, 2, 2};
  seen.thread_budget = 7;
  ExpectDecision(DecideStageMove(seen), {1, 2, 1, 2, 1}, "decompress+1",
                 "read-backpressure from compress");
}

TEST(StageControllerMoves, ATwoSlotMoveTakesEachSlotFromTheDonorOfTheMoment) {
  // Budget used up; reader relaxed at 2, parse at 3: the first slot comes from reader (now 1),
  // the second from parse.
  ControllerObservation seen = Steady();
  seen.thread_budget = 8;
  seen.active = {2, 1, 1, 3, 1};
  seen.ratios[kReader].busy = 0.1;
  seen.depths.compress = 12;
  ExpectDecision(DecideStageMove(seen), {1, 1, 1, 2, 3}, "compress+2",
                 "compress-backlog from reader from parse");
}

TEST(StageControllerMoves, ABudgetWithRoomGrowsTheTargetWithoutADonor) {
  ControllerObservation seen = Steady();
  seen.active = {2, 2, 2, 2, 1};
  seen.thread_budget = 10;
  seen.depths.compress = 12;
  // One slot fits the budget, the second needs a donor: reader (not relaxed) is skipped, parse
  // gives one.
  ExpectDecision(DecideStageMove(seen), {2, 2, 2, 1, 3}, "compress+2",
                 "compress-backlog from parse");
}

TEST(StageControllerMeasures, RatiosAreSecondsPerActiveWorkerAndInterval) {
  StageStatsSnapshot previous;
  previous.busy_seconds = 1.0;
  previous.blocked_empty_seconds = 0.5;
  previous.blocked_full_seconds = 2.0;
  previous.items_out = 10;
  StageStatsSnapshot current = previous;
  current.busy_seconds = 2.0;
  current.blocked_empty_seconds = 1.0;
  current.blocked_full_seconds = 1.0;  // went down: counts as 0
  current.items_out = 25;
  const StageInterval interval = MeasureStageInterval(previous, current, 2, 0.5);
  EXPECT_DOUBLE_EQ(interval.ratios.busy, 1.0);
  EXPECT_DOUBLE_EQ(interval.ratios.empty, 0.5);
  EXPECT_DOUBLE_EQ(interval.ratios.full, 0.0);
  EXPECT_EQ(interval.items_out, 15U);

  const StageInterval empty = MeasureStageInterval(previous, current, 0, 1.0);
  EXPECT_EQ(empty.ratios.busy, 0.0);
  EXPECT_EQ(empty.ratios.empty, 0.0);
  EXPECT_EQ(MeasureStageInterval(current, previous, 1, 1.0).items_out, 0U);
}

}  // namespace
}  // namespace boardmill::pipeline
