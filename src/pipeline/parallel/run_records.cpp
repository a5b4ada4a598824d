#include "pipeline/parallel/run_records.h"

namespace boardmill::pipeline {

void RunRecords::Completed(const FileGroup& /*group*/,
                           const std::vector<FileProcessingSummary>& files) {
  for (const FileProcessingSummary& file : files) summaries_[file.file_index] = file;
  util::Result<void> recorded = manifest_.AppendFileRecords(files);
  if (!recorded) Failed(recorded.error());
}

void RunRecords::Tuned(const TuningDecision& decision) {
  util::Result<void> appended = manifest_.AppendTuningDecision(decision);
  if (!appended) Failed(appended.error());
}

void RunRecords::Failed(const std::string& message) {
  failure_.Record(message);
  if (dispenser_ != nullptr) dispenser_->Stop();
}

}  // namespace boardmill::pipeline
