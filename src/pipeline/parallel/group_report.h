#pragma once

#include <string>
#include <vector>

#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/file_processing_summary.h"
#include "pipeline/parallel/tuning_decision.h"

namespace boardmill::pipeline {

// Where the workers of a parallel run, and its autotuner, report to: the run's records in the
// process that keeps them, or rank 0 of an MPI job. Called from any thread.
class GroupReport {
 public:
  virtual ~GroupReport() = default;
  // A group's fragment is complete; `files` are its files' summaries.
  virtual void Completed(const FileGroup& group,
                         const std::vector<FileProcessingSummary>& files) = 0;
  virtual void Tuned(const TuningDecision& decision) = 0;
  // The run has failed; the first message is the one it reports.
  virtual void Failed(const std::string& message) = 0;
  virtual bool failed() const = 0;
  // A worker has ended; only a report that waits for the workers counts them.
  virtual void WorkerEnded() {}
};

}  // namespace boardmill::pipeline
