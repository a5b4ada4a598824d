#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "pipeline/staged/pipeline_depths.h"
#include "pipeline/staged/pipeline_stage.h"

namespace boardmill::pipeline {

// How one stage spent an interval: busy, waiting for input and waiting to hand output on, each
// as a share of (active workers x interval).
struct StageRatios {
  double busy = 0.0;
  double empty = 0.0;
  double full = 0.0;
};

// One controller tick as written to controller-stats.tsv.
struct ControllerRow {
  double elapsed_seconds = 0.0;
  ElasticCounts active{};  // after the tick's move
  PipelineDepths depths;
  std::array<StageRatios, kElasticStageCount> ratios{};
  double write_busy_ratio = 0.0;
  std::array<std::uint64_t, kPipelineStageCount> items_out_deltas{};
  std::string action;
  std::string reason;
};

}  // namespace boardmill::pipeline
