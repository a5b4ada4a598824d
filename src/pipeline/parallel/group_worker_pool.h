#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "pipeline/conversion_options.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/group_report.h"
#include "pipeline/parallel/group_source.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/parallel/worker_knob_cells.h"
#include "pipeline/parallel/worker_plan.h"
#include "pipeline/parallel/worker_stage_stats.h"
#include "shards/shard_router.h"

namespace boardmill::pipeline {

struct WorkerResources;

// The worker threads of one process of a parallel run, and its autotuner: each worker takes a
// group from a GroupSource, converts it into its fragment and reports it, until the source has
// none left or the run has failed.
class GroupWorkerPool {
 public:
  GroupWorkerPool(const ConversionOptions& options, const shards::ShardRouter& router,
                  const WorkerPlan& plan, const RunPaths& paths,
                  const std::vector<std::filesystem::path>& files);

  // Runs the workers and, with --autotune and `may_have_groups`, the autotuner, until every
  // worker has ended. `serve`, if given, runs on the calling thread meanwhile: the only thread
  // that talks to the other ranks of an MPI job.
  void Run(GroupSource& source, GroupReport& report, bool may_have_groups,
           const std::function<void()>& serve);

  std::uint64_t worker_count() const { return plan_.caps.effective_max_workers; }
  // The knobs as the autotuner left them.
  WorkerKnobs knobs() const { return knobs_.Read(); }

 private:
  void WorkerLoop(std::uint64_t worker, GroupSource& source, GroupReport& report);
  void ConvertGroup(const FileGroup& group, WorkerResources& resources, GroupReport& report);

  const ConversionOptions& options_;
  const shards::ShardRouter& router_;
  const WorkerPlan& plan_;
  const RunPaths& paths_;
  const std::vector<std::filesystem::path>& files_;
  WorkerKnobCells knobs_;
  WorkerStageStats stats_;
};

}  // namespace boardmill::pipeline
