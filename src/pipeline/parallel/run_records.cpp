#include "pipeline/parallel/run_records.h"

#include <span>

namespace boardmill::pipeline {

// Each file keeps the stamp the run started with: a file that changes while it is converted then
// no longer matches its record, and a resume converts it again.
void RunRecords::Completed(const FileGroup& group,
                           const std::vector<FileProcessingSummary>& files) {
  for (const FileProcessingSummary& file : files) {
    FileProcessingSummary& kept = summaries_[file.file_index];
    const InputStamp stamp = kept.stamp;
    kept = file;
    kept.stamp = stamp;
  }
  util::Result<void> recorded =
      manifest_.AppendFileRecords(std::span(summaries_).subspan(group.first_file, files.size()));
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
