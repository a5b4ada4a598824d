#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/parallel/run_preparation.h"
#include "pipeline/parallel/shard_merger.h"
#include "pipeline/parallel/worker_knobs.h"
#include "pipeline/parallel/worker_plan.h"
#include "util/result.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

// The groups' fragments with their indexes, in the order given.
util::Result<std::vector<FragmentSource>> FragmentsInFileOrder(
    const std::filesystem::path& fragments_root, const std::vector<FileGroup>& groups);

// Merges `subset` of the shards from the fragments, with --merge-threads (else a share of
// `max_workers`) threads.
util::Result<ShardMergeSummary> MergeFragments(const ConversionOptions& options,
                                               std::uint64_t max_workers,
                                               const std::vector<FragmentSource>& fragments,
                                               ShardSubset subset);

// Finishes a parallel run in the process that keeps its records, once the shards are merged:
// the reject log in file order, the shard index, the manifest's finish record, the run summary,
// and the fragments removed. The run's elapsed time counts from this finisher's construction.
class RunFinisher {
 public:
  RunFinisher(const ConversionOptions& options, const RunPaths& paths, std::uint64_t ceiling_mib,
              RunPreparation& run)
      : options_(options), paths_(paths), ceiling_mib_(ceiling_mib), run_(run) {}

  // `final_knobs`: this process's knobs at the end; `other_ranks`: what the other ranks of an
  // MPI job reported, summed.
  util::Result<ConversionSummary> Finish(const std::vector<FragmentSource>& fragments,
                                         util::Result<ShardMergeSummary> merged,
                                         const WorkerKnobs& final_knobs,
                                         const RankCaps& other_ranks);

  // The failure the workers recorded, the reject log closed; the manifest and the fragments stay
  // for --resume.
  util::Error FailAfterWorkers();
  util::Error CloseRejectLogAndFail(const std::string& message);

 private:
  util::Result<void> CollectRejects(const std::vector<FragmentSource>& fragments);
  ConversionSummary AssembleSummary(const ShardMergeSummary& merged, const WorkerKnobs& final_knobs,
                                    const RankCaps& other_ranks) const;

  const ConversionOptions& options_;
  const RunPaths& paths_;
  const std::uint64_t ceiling_mib_;
  RunPreparation& run_;
  const util::Stopwatch run_clock_;
};

util::Result<void> WriteParallelRunSummary(const ConversionOptions& options,
                                           const ConversionSummary& summary);

}  // namespace boardmill::pipeline
