#include "pipeline/parallel/parallel_conversion_runner.h"

#include "io/mpi_job.h"
#include "pipeline/parallel/group_source.h"
#include "pipeline/parallel/group_worker_pool.h"
#include "pipeline/parallel/rank_coordinator.h"
#include "pipeline/parallel/rank_follower.h"
#include "pipeline/parallel/run_finisher.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/parallel/run_preparation.h"
#include "run/memory_ceiling.h"
#include "shards/shard_router.h"

namespace boardmill::pipeline {

namespace {

// One process does everything: it prepares the run, converts the groups on its workers, merges
// every shard and finishes.
util::Result<ConversionSummary> RunAlone(const ConversionOptions& options) {
  const RunPaths paths = ResolveRunPaths(options);
  const std::uint64_t ceiling_mib = run::ResolveMemoryCeilingMib(options.memory_ceiling_mib);
  RunPreparation run(options, paths, ceiling_mib);
  RunFinisher finisher(options, paths, ceiling_mib, run);
  util::Result<void> prepared = run.PrepareDirectories();
  if (prepared) prepared = run.PrepareRun(0);
  if (!prepared) return std::move(prepared).TakeError();

  GroupDispenser dispenser(run.new_groups());
  run.records().StopOnFailure(dispenser);
  const shards::ShardRouter router(options.output_shard_count);
  GroupWorkerPool pool(options, router, run.workers(), paths, run.files());
  pool.Run(dispenser, run.records(), !run.new_groups().empty(), {});
  if (run.records().failed()) return finisher.FailAfterWorkers();

  util::Result<std::vector<FragmentSource>> fragments =
      FragmentsInFileOrder(paths.fragments_root, run.AllGroups());
  if (!fragments) return finisher.CloseRejectLogAndFail(fragments.error());
  util::Result<ShardMergeSummary> merged =
      MergeFragments(options, run.workers().caps.effective_max_workers, *fragments, {});
  return finisher.Finish(*fragments, std::move(merged), pool.knobs(), RankCaps{});
}

}  // namespace

util::Result<ConversionSummary> RunParallel(const ConversionOptions& options) {
  const io::MpiJob* job = options.mpi_job;
  if (job == nullptr || job->size() == 1) return RunAlone(options);
  if (job->rank() == 0) return RankCoordinator(options, *job).Run();
  return RankFollower(options, *job).Run();
}

}  // namespace boardmill::pipeline
