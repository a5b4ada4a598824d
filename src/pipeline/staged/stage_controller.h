#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "pipeline/stage_stats.h"
#include "pipeline/staged/controller_row.h"
#include "pipeline/staged/pipeline_depths.h"
#include "pipeline/staged/pipeline_stage.h"

namespace boardmill::pipeline {

struct StagedPipeline;

// How one stage did over one controller interval.
struct StageInterval {
  StageRatios ratios;
  std::uint64_t items_out = 0;
};

// Ratios of the seconds the stage's threads added between two snapshots to (active x interval);
// all 0 when that product is not above the double epsilon. Negative deltas count as 0.
StageInterval MeasureStageInterval(const StageStatsSnapshot& previous,
                                   const StageStatsSnapshot& current, std::uint64_t active,
                                   double interval_seconds);

// The total capacity of the queues in front of the decompress, line-index, parse and compress
// stages, for turning depths into fill levels.
struct QueueCapacities {
  std::uint64_t decompress = 0;
  std::uint64_t line_index = 0;
  std::uint64_t parse = 0;
  std::uint64_t compress = 0;
};

// What the controller sees at one tick.
struct ControllerObservation {
  ElasticCounts active{};
  ElasticCounts caps{};  // pool sizes
  std::uint64_t thread_budget = 0;
  std::array<StageRatios, kElasticStageCount> ratios{};
  double write_busy_ratio = 0.0;
  PipelineDepths depths;
  std::int64_t backlog_change = 0;  // writer backlog now minus at the previous tick
  QueueCapacities capacities;
};

// The active counts after the tick and how the row describes the tick.
struct ControllerDecision {
  ElasticCounts active{};
  std::string action;
  std::string reason;
};

// Picks at most one rule and applies its move of active slots from donor stages to the target
// stage. Pure: the controller thread applies the counts to the gates.
ControllerDecision DecideStageMove(const ControllerObservation& observation);

// The controller thread: one row per interval until the pipeline has finished or the run stops.
void RunStageController(StagedPipeline& pipeline);

}  // namespace boardmill::pipeline
