#include "pipeline/parallel/run_preparation.h"

#include <algorithm>
#include <system_error>

#include "io/create_directories.h"
#include "io/input_discovery.h"
#include "pipeline/conversion_locks.h"
#include "pipeline/conversion_path_checks.h"
#include "pipeline/option_limits.h"
#include "pipeline/parallel/resume_planner.h"
#include "run/run_outcome_files.h"
#include "util/file_sync.h"

namespace boardmill::pipeline {

namespace {

constexpr char kScratchFailure[] = "Failed to create scratch directory: ";

// The compressed size of every input file, by index; a file that cannot be measured counts 0
// and fails later, when it is read, with the reader's message.
std::vector<std::uint64_t> FileSizes(const std::vector<std::filesystem::path>& files) {
  std::vector<std::uint64_t> sizes;
  sizes.reserve(files.size());
  for (const std::filesystem::path& file : files) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(file, error);
    sizes.push_back(error ? 0 : size);
  }
  return sizes;
}

}  // namespace

util::Result<void> RunPreparation::PrepareDirectories() {
  util::Result<void> valid = CheckOptionLimits(options_);
  if (!valid) return valid;
  util::Result<std::vector<std::filesystem::path>> files = io::ListFenFiles(
      options_.input_directory, options_.max_input_files, InputDiscoveryOf(options_));
  if (!files) return std::move(files).TakeError();
  files_ = std::move(*files);
  util::Result<void> paths = CheckConversionPaths(options_, files_);
  if (!paths) return paths;
  util::Result<void> fits = CheckWorkerFits(options_, ceiling_mib_);
  if (!fits) return fits;

  util::Result<io::RunLocks> locks = AcquireRunLocks(options_, ExecutionMode::kParallel);
  if (!locks) return std::move(locks).TakeError();
  locks_ = std::move(*locks);
  util::Result<void> created = io::CreateDirectories(paths_.scratch, kScratchFailure);
  if (!created) return created;
  return CheckScratchFreeSpace(options_, paths_);
}

util::Result<void> RunPreparation::PrepareRun(std::uint64_t other_ranks_worker_cap) {
  util::Result<ResumePlan> plan =
      ResumePlanner(paths_, options_.input_directory, options_.resume).Plan(files_);
  if (!plan) return std::move(plan).TakeError();
  kept_groups_ = std::move(plan->kept_groups);
  skipped_files_ = plan->skipped_files;
  redone_files_ = plan->redone_files;
  records_.summaries() = std::move(plan->summaries);
  // Removed only now, after the checks that leave an earlier run's output untouched when they
  // fail, and before the manifest and the reject log are rewritten.
  util::Result<void> removed = run::RemoveEarlierRunOutcome(options_.output_directory);
  if (!removed) return removed;
  util::Result<void> opened = OpenRecords(plan->recovered);
  if (!opened) return opened;
  util::Result<void> created = io::CreateDirectories(paths_.fragments_root, kScratchFailure);
  if (!created) return created;
  PlanGroups(plan->pending, other_ranks_worker_cap);
  return {};
}

// The manifest, with the records of the files whose fragment an earlier run completed but whose
// records it did not write, and the reject log.
util::Result<void> RunPreparation::OpenRecords(const std::vector<std::uint64_t>& recovered) {
  ConversionOptions manifest_options = options_;
  manifest_options.execution_mode = ExecutionMode::kParallel;
  manifest_options.scratch_directory = paths_.scratch;
  manifest_options.manifest_path = paths_.manifest;
  manifest_options.reject_log_path = paths_.reject_log;
  util::Result<void> opened = records_.manifest().Open(manifest_options, options_.resume);
  if (!opened) return opened;
  if (!recovered.empty()) {
    // A killed run may have renamed these fragments without syncing their names.
    util::Result<void> synced = util::SyncDirectory(paths_.fragments_root);
    if (!synced) return synced;
    std::vector<FileProcessingSummary> summaries;
    summaries.reserve(recovered.size());
    for (const std::uint64_t file : recovered) summaries.push_back(records_.summaries()[file]);
    util::Result<void> recorded = records_.manifest().AppendFileRecords(summaries);
    if (!recorded) return recorded;
  }
  util::Result<std::uint64_t> log_opened = records_.reject_log().Open();
  if (!log_opened) return std::move(log_opened).TakeError();
  return {};
}

void RunPreparation::PlanGroups(const std::vector<std::uint64_t>& pending,
                                std::uint64_t other_ranks_worker_cap) {
  workers_ = PlanWorkers(options_, pending.size(), ceiling_mib_);
  // Sized from every file and the workers asked for (on every rank of an MPI job), not from
  // what is pending, so that a resumed run cuts the files it has left exactly as the
  // interrupted run would have: the frames, and with them the shard files' bytes, come out the
  // same.
  const std::vector<std::uint64_t> file_sizes = FileSizes(files_);
  std::uint64_t total_bytes = 0;
  for (const std::uint64_t size : file_sizes) total_bytes += size;
  groups_ = GroupPendingFiles(
      pending, file_sizes,
      GroupTargetBytes(total_bytes, workers_.caps.requested_worker_cap + other_ranks_worker_cap));
  if (options_.progress != nullptr) {
    std::uint64_t pending_bytes = 0;
    for (const std::uint64_t file : pending) pending_bytes += file_sizes[file];
    options_.progress->files_total = files_.size();
    options_.progress->input_bytes_total = total_bytes;
    options_.progress->AddFilesDone(files_.size() - pending.size());
    options_.progress->AddInputBytesRead(total_bytes - pending_bytes);
  }
}

std::vector<FileGroup> RunPreparation::AllGroups() const {
  std::vector<FileGroup> all = kept_groups_;
  all.insert(all.end(), groups_.begin(), groups_.end());
  std::sort(all.begin(), all.end(), [](const FileGroup& left, const FileGroup& right) {
    return left.first_file < right.first_file;
  });
  return all;
}

}  // namespace boardmill::pipeline
