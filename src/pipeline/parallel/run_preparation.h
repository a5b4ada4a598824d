#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "io/run_locks.h"
#include "pipeline/conversion_options.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/parallel/run_records.h"
#include "pipeline/parallel/worker_plan.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Prepares a parallel run in the process that keeps its records (alone, or rank 0 of an MPI job),
// and holds what it prepared: the locks, the records, the input files, the groups to convert and
// this process's workers.
class RunPreparation {
 public:
  RunPreparation(const ConversionOptions& options, const RunPaths& paths, std::uint64_t ceiling_mib)
      : options_(options), paths_(paths), ceiling_mib_(ceiling_mib), records_(paths) {}

  // The checks that refuse a run before it changes anything, the input listing, the locks and
  // the scratch directory.
  util::Result<void> PrepareDirectories();
  // What earlier runs left, the manifest and the reject log, and the plan of the groups and the
  // workers. `other_ranks_worker_cap`: the workers the other ranks of an MPI job asked for.
  util::Result<void> PrepareRun(std::uint64_t other_ranks_worker_cap);

  const std::vector<std::filesystem::path>& files() const { return files_; }
  // The groups this run converts.
  const std::vector<FileGroup>& new_groups() const { return groups_; }
  // Every group, kept and new, in file order.
  std::vector<FileGroup> AllGroups() const;
  const WorkerPlan& workers() const { return workers_; }
  std::uint64_t skipped_files() const { return skipped_files_; }
  std::uint64_t redone_files() const { return redone_files_; }
  RunRecords& records() { return records_; }
  const RunRecords& records() const { return records_; }

 private:
  util::Result<void> OpenRecords(const std::vector<std::uint64_t>& recovered);
  void PlanGroups(const std::vector<std::uint64_t>& pending, std::uint64_t other_ranks_worker_cap);

  const ConversionOptions& options_;
  const RunPaths& paths_;
  const std::uint64_t ceiling_mib_;
  io::RunLocks locks_;  // declared before the records, so released only after they are closed
  RunRecords records_;
  std::vector<std::filesystem::path> files_;
  std::vector<FileGroup> kept_groups_;
  std::uint64_t skipped_files_ = 0;
  std::uint64_t redone_files_ = 0;
  std::vector<FileGroup> groups_;
  WorkerPlan workers_;
};

}  // namespace boardmill::pipeline
