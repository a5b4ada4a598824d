#include "pipeline/parallel/resume_planner.h"

#include <algorithm>
#include <map>
#include <string>
#include <system_error>

#include "pipeline/parallel/earlier_run.h"
#include "pipeline/parallel/run_manifest.h"

namespace boardmill::pipeline {

namespace {

// The files no kept fragment holds.
std::vector<std::uint64_t> PendingFiles(std::uint64_t file_count,
                                        const std::vector<FileGroup>& kept_groups) {
  std::vector<bool> held(file_count, false);
  for (const FileGroup& group : kept_groups) {
    std::fill_n(held.begin() + static_cast<std::ptrdiff_t>(group.first_file), group.file_count,
                true);
  }
  std::vector<std::uint64_t> pending;
  for (std::uint64_t file = 0; file < file_count; ++file) {
    if (!held[file]) pending.push_back(file);
  }
  return pending;
}

}  // namespace

util::Result<ResumePlan> ResumePlanner::Plan(
    const std::vector<std::filesystem::path>& files) const {
  ResumePlan plan;
  plan.summaries.resize(files.size());
  if (resume_) {
    util::Result<void> kept = KeepEarlierFragments(files, plan);
    if (!kept) return std::move(kept).TakeError();
  } else {
    std::error_code ignored;
    std::filesystem::remove_all(paths_.fragments_root, ignored);
  }
  plan.pending = PendingFiles(files.size(), plan.kept_groups);
  return plan;
}

util::Result<void> ResumePlanner::KeepEarlierFragments(
    const std::vector<std::filesystem::path>& files, ResumePlan& plan) const {
  util::Result<std::map<std::uint64_t, std::string>> recorded = LoadCompletedFiles(paths_.manifest);
  if (!recorded) return std::move(recorded).TakeError();
  util::Result<void> names =
      CheckResumedFileNames(*recorded, files, input_directory_, paths_.manifest);
  if (!names) return names;
  util::Result<std::vector<FragmentSource>> earlier =
      FindEarlierFragments(paths_.fragments_root, files, input_directory_);
  if (!earlier) return std::move(earlier).TakeError();

  std::vector<bool> held(files.size(), false);
  for (const FragmentSource& fragment : *earlier) {
    plan.kept_groups.push_back({fragment.index.first_file, fragment.index.files.size()});
    for (const FileProcessingSummary& file : fragment.index.files) {
      held[file.file_index] = true;
      FileProcessingSummary& summary = plan.summaries[file.file_index];
      if (recorded->contains(file.file_index)) {
        summary.skipped = true;
        ++plan.skipped_files;
      } else {
        summary = file;
        plan.recovered.push_back(file.file_index);
      }
      summary.file_index = file.file_index;
      summary.input_path = files[file.file_index];
    }
  }
  for (const auto& entry : *recorded) {
    if (entry.first < files.size() && !held[entry.first]) {
      return util::Fail("Resume requested but no fragment holds completed file index " +
                        std::to_string(entry.first));
    }
  }
  return {};
}

}  // namespace boardmill::pipeline
