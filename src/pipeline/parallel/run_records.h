#pragma once

#include <optional>
#include <string>
#include <vector>

#include "pipeline/first_failure.h"
#include "pipeline/parallel/group_report.h"
#include "pipeline/parallel/group_source.h"
#include "pipeline/parallel/run_manifest.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/reject_logger.h"

namespace boardmill::pipeline {

// The records of a parallel run, kept by the process that owns them (alone, or rank 0 of an MPI
// job): the manifest, the reject log, every file's summary by index, and the run's first failure.
// Workers of any rank report here.
class RunRecords : public GroupReport {
 public:
  explicit RunRecords(const RunPaths& paths)
      : manifest_(paths.manifest), reject_log_(paths.reject_log) {}

  RunManifest& manifest() { return manifest_; }
  RejectLogger& reject_log() { return reject_log_; }
  std::vector<FileProcessingSummary>& summaries() { return summaries_; }
  const std::vector<FileProcessingSummary>& summaries() const { return summaries_; }

  // A failure stops `dispenser` handing out groups.
  void StopOnFailure(GroupDispenser& dispenser) { dispenser_ = &dispenser; }

  // A group's files into the summaries and, all at once, into the manifest.
  void Completed(const FileGroup& group, const std::vector<FileProcessingSummary>& files) override;
  void Tuned(const TuningDecision& decision) override;
  void Failed(const std::string& message) override;
  bool failed() const override { return failure_.failed(); }
  std::optional<std::string> failure_message() const { return failure_.message(); }

 private:
  RunManifest manifest_;
  RejectLogger reject_log_;
  std::vector<FileProcessingSummary> summaries_;
  FirstFailure failure_;
  GroupDispenser* dispenser_ = nullptr;
};

}  // namespace boardmill::pipeline
