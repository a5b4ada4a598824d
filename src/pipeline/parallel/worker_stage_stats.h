#pragma once

#include "pipeline/parallel/file_processing_summary.h"
#include "pipeline/stage_stats.h"

namespace boardmill::pipeline {

// The five stage records the parallel workers feed, one converted file at a time, and the
// autotuner reads.
struct WorkerStageStats {
  StageStats read;
  StageStats decompress;
  StageStats encode;
  StageStats compress;
  StageStats write;

  void AddFile(const FileProcessingSummary& file);
};

}  // namespace boardmill::pipeline
