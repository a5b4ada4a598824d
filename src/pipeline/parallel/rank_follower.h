#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "io/mpi_job.h"
#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/rank_context.h"
#include "pipeline/parallel/rank_handshake.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/parallel/shard_merger.h"
#include "pipeline/parallel/worker_plan.h"
#include "shards/shard_router.h"
#include "util/result.h"

namespace boardmill::pipeline {

// A rank other than 0 of a parallel run across an MPI job. It checks that it shares rank 0's
// directories, converts the groups rank 0 gives it, merges its share of the shards and reports
// what they hold; rank 0 reports the run.
class RankFollower {
 public:
  RankFollower(const ConversionOptions& options, const io::MpiJob& job);

  // An empty summary on success: only rank 0's counts.
  util::Result<ConversionSummary> Run();

 private:
  // Tells rank 0 whether this rank is ready; the outcome rank 0 broadcasts in answer.
  util::Result<void> ReportReady(const SharedDirectoryMarks& marks);
  void ConvertGroups();
  // Merges this rank's shards and sends rank 0 their tallies.
  util::Result<void> MergeOwnShards(const std::vector<FileGroup>& groups);
  ShardSubset OwnShards() const;

  const RankContext rank_;
  std::vector<std::filesystem::path> files_;
  WorkerPlan workers_;
};

}  // namespace boardmill::pipeline
