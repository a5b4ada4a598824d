#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "io/mpi_job.h"
#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "pipeline/parallel/group_source.h"
#include "pipeline/parallel/rank_context.h"
#include "pipeline/parallel/run_finisher.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/parallel/run_preparation.h"
#include "pipeline/parallel/shard_merger.h"
#include "pipeline/parallel/worker_plan.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Rank 0 of a parallel run across an MPI job. It prepares the run, hands out the groups to its
// own workers and, from its main thread, to the other ranks, keeps the manifest and the reject
// log, merges its share of the shards and finishes the run with the other ranks' tallies.
class RankCoordinator {
 public:
  RankCoordinator(const ConversionOptions& options, const io::MpiJob& job);

  util::Result<ConversionSummary> Run();

 private:
  std::vector<std::filesystem::path> SharedDirectories() const;
  util::Result<void> CollectReadyRanks();
  // Serves the other ranks until every one has finished converting.
  void CoordinateRanks(GroupDispenser& dispenser);
  bool ServeRank(int source, const std::vector<std::uint8_t>& message, GroupDispenser& dispenser);
  std::vector<std::uint8_t> NextAssignment(GroupDispenser& dispenser);
  void RecordRemoteGroup(const FileGroup& group);
  util::Result<ShardMergeSummary> CollectMergedRanks(util::Result<ShardMergeSummary> merged);

  const RankContext rank_;
  RunPreparation run_;
  RunFinisher finisher_;
  RankCaps other_ranks_;  // what the other ranks reported
};

}  // namespace boardmill::pipeline
