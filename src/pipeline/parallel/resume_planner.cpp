#include "pipeline/parallel/resume_planner.h"

#include <algorithm>
#include <map>
#include <string>
#include <system_error>

#include "pipeline/parallel/earlier_run.h"
#include "pipeline/parallel/fragment_file.h"
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

// The files of `fragment` the manifest records with another stamp than they have now. A file the
// manifest does not record was recovered from its fragment within the same run, so it has no
// stamp to compare and is taken as converted.
std::uint64_t ChangedFiles(const FragmentSource& fragment,
                           const std::map<std::uint64_t, std::string>& recorded,
                           const std::map<std::uint64_t, InputStamp>& stamps,
                           const ResumePlan& plan) {
  std::uint64_t changed = 0;
  for (const FileProcessingSummary& file : fragment.index.files) {
    if (!recorded.contains(file.file_index)) continue;
    const auto stamp = stamps.find(file.file_index);
    if (stamp == stamps.end() || stamp->second != plan.summaries[file.file_index].stamp) {
      ++changed;
    }
  }
  return changed;
}

}  // namespace

util::Result<ResumePlan> ResumePlanner::Plan(
    const std::vector<std::filesystem::path>& files) const {
  ResumePlan plan;
  plan.summaries.resize(files.size());
  for (std::uint64_t file = 0; file < files.size(); ++file) {
    plan.summaries[file].stamp = StampOf(files[file]);
  }
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
  util::Result<std::map<std::uint64_t, InputStamp>> stamps =
      LoadCompletedFileStamps(paths_.manifest);
  if (!stamps) return std::move(stamps).TakeError();
  util::Result<std::vector<FragmentSource>> earlier =
      FindEarlierFragments(paths_.fragments_root, files, input_directory_);
  if (!earlier) return std::move(earlier).TakeError();

  // Held by a kept fragment, or by one removed because a file in it changed.
  std::vector<bool> held(files.size(), false);
  for (const FragmentSource& fragment : *earlier) {
    for (const FileProcessingSummary& file : fragment.index.files) held[file.file_index] = true;
    const std::uint64_t changed = ChangedFiles(fragment, *recorded, *stamps, plan);
    if (changed != 0) {
      plan.redone_files += changed;
      std::error_code ignored;
      std::filesystem::remove(RejectPartPath(fragment.path), ignored);
      std::filesystem::remove(fragment.path, ignored);
      continue;
    }
    plan.kept_groups.push_back({fragment.index.first_file, fragment.index.files.size()});
    for (const FileProcessingSummary& file : fragment.index.files) {
      FileProcessingSummary& summary = plan.summaries[file.file_index];
      const InputStamp stamp = summary.stamp;
      if (recorded->contains(file.file_index)) {
        summary.skipped = true;
        ++plan.skipped_files;
      } else {
        summary = file;
        plan.recovered.push_back(file.file_index);
      }
      summary.file_index = file.file_index;
      summary.input_path = files[file.file_index];
      summary.stamp = stamp;
    }
  }
  for (const auto& entry : *recorded) {
    if (entry.first < files.size() && !held[entry.first]) {
      // A finished run's fragments went into its shards and were removed.
      if (LastRecordedRunFinished(paths_.manifest)) {
        return util::Fail("Nothing to resume: the run recorded in " + paths_.manifest.string() +
                          " already finished.");
      }
      return util::Fail("Resume requested but no fragment holds completed file index " +
                        std::to_string(entry.first));
    }
  }
  return {};
}

}  // namespace boardmill::pipeline
