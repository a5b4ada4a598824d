#include "pipeline/parallel/parallel_conversion_runner.h"

#include <atomic>
#include <chrono>
#include <map>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "io/input_discovery.h"
#include "pipeline/bounded_queue.h"
#include "pipeline/first_failure.h"
#include "pipeline/memory_ceiling.h"
#include "pipeline/option_limits.h"
#include "pipeline/parallel/autotuner.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/file_group_task.h"
#include "pipeline/parallel/fragment_file.h"
#include "pipeline/parallel/free_space.h"
#include "pipeline/parallel/run_manifest.h"
#include "pipeline/parallel/shard_merger.h"
#include "pipeline/parallel/worker_caps.h"
#include "pipeline/parallel/worker_memory.h"
#include "pipeline/reject_logger.h"
#include "pipeline/run_summary_file.h"
#include "pipeline/sanitize_field.h"
#include "pipeline/shard_index.h"
#include "pipeline/shard_verification.h"
#include "pipeline/stage_stats.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr auto kIdleWorkerPoll = std::chrono::milliseconds(50);
// What the fragments root held before a task became a group of files: a directory per file.
constexpr char kEarlierLayoutPrefix[] = "file-";

struct RunPaths {
  fs::path scratch;
  fs::path manifest;
  fs::path reject_log;
  fs::path fragments_root;
};

fs::path PathOrDefault(const fs::path& path, const fs::path& fallback) {
  return path.empty() ? fallback : path;
}

RunPaths ResolvePaths(const ConversionOptions& options) {
  RunPaths paths;
  paths.scratch = PathOrDefault(options.scratch_directory, options.output_directory / "_scratch");
  paths.manifest =
      PathOrDefault(options.manifest_path, options.output_directory / "run-manifest.tsv");
  paths.reject_log =
      PathOrDefault(options.reject_log_path, options.output_directory / "rejects.tsv");
  paths.fragments_root = paths.scratch / "fragments";
  return paths;
}

fs::path StemPath(const fs::path& fragments_root, const FileGroup& group) {
  return fragments_root / FragmentStem(group.first_file, group.file_count);
}

fs::path WithSuffix(fs::path stem, const char* suffix) { return stem += suffix; }

void RemoveTree(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

util::Result<void> CreateDirectory(const fs::path& path, const char* failure_prefix) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) return util::Fail(failure_prefix + error.message());
  return {};
}

// The compressed size of every input file, by index; a file that cannot be measured counts 0
// and fails later, when it is read, with the reader's message.
std::vector<std::uint64_t> FileSizes(const std::vector<fs::path>& files) {
  std::vector<std::uint64_t> sizes;
  sizes.reserve(files.size());
  for (const fs::path& file : files) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    sizes.push_back(error ? 0 : size);
  }
  return sizes;
}

// The tunable values workers read when they start a task; the autotuner is their only writer.
struct KnobCells {
  std::atomic<std::uint64_t> active_workers{0};
  std::atomic<std::uint64_t> line_batch_size{0};
  std::atomic<std::uint64_t> records_per_flush{0};
  std::atomic<std::int32_t> compression_level{0};

  WorkerKnobs Read() const {
    return {active_workers.load(), line_batch_size.load(), records_per_flush.load(),
            compression_level.load()};
  }
};

// The five stage records the workers feed and the autotuner reads.
struct WorkerStageStats {
  StageStats read;
  StageStats decompress;
  StageStats encode;
  StageStats compress;
  StageStats write;

  void AddFile(const FileProcessingSummary& file) {
    Add(read, file.visited_lines, file.visited_lines, file.compressed_input_bytes,
        file.compressed_input_bytes, file.read_seconds);
    Add(decompress, file.visited_lines, file.visited_lines, file.compressed_input_bytes,
        file.decompressed_input_bytes, file.decompress_seconds);
    Add(encode, file.visited_lines, file.encoded_positions, file.decompressed_input_bytes,
        file.raw_output_bytes, file.encode_seconds);
    Add(compress, file.encoded_positions, file.encoded_positions, file.raw_output_bytes,
        file.compressed_output_bytes, file.compress_seconds);
    Add(write, file.encoded_positions, file.encoded_positions, file.compressed_output_bytes,
        file.compressed_output_bytes, file.write_seconds);
  }

  static void Add(StageStats& stage, std::uint64_t items_in, std::uint64_t items_out,
                  std::uint64_t bytes_in, std::uint64_t bytes_out, double seconds) {
    stage.AddItemsIn(items_in);
    stage.AddItemsOut(items_out);
    stage.AddBytesIn(bytes_in);
    stage.AddBytesOut(bytes_out);
    stage.AddBusySeconds(seconds);
    stage.AddBatches(1);
  }
};

// Resuming identifies files by their index in today's listing; a listing that changed since the
// manifest was written would make the run skip the wrong files, so every completed index must
// still name the same file.
util::Result<void> CheckResumedFileNames(const std::map<std::uint64_t, std::string>& completed,
                                         const std::vector<fs::path>& files,
                                         const fs::path& manifest) {
  for (const auto& [index, recorded_name] : completed) {
    if (index >= files.size()) continue;
    const std::string current_name = SanitizeField(files[index].filename().string());
    if (current_name != recorded_name) {
      std::string message = "Cannot resume: " + manifest.string();
      message += " records file index " + std::to_string(index) + " as " + recorded_name;
      message += ", but the input file at that index is now " + current_name + ".";
      return util::Fail(std::move(message));
    }
  }
  return {};
}

// The fragments an earlier run completed, read back for --resume, in file order. Each must
// still belong to the files now at its indices; no two may hold the same file. Leftovers of tasks
// that did not complete (".partial" files) are removed.
util::Result<std::vector<FragmentSource>> FindEarlierFragments(const fs::path& fragments_root,
                                                               const std::vector<fs::path>& files) {
  std::vector<FragmentSource> found;
  std::error_code error;
  fs::directory_iterator entry(fragments_root, error);
  for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
    const fs::path& path = entry->path();
    const std::string name = path.filename().string();
    if (name.starts_with(kEarlierLayoutPrefix)) {
      return util::Fail("Cannot resume: " + fragments_root.string() +
                        " holds fragments of an earlier version of boardmill; convert again "
                        "without --resume.");
    }
    if (name.ends_with(kPartialSuffix)) {
      std::error_code ignored;
      fs::remove(path, ignored);
      continue;
    }
    if (!name.ends_with(kFragmentSuffix)) continue;
    util::Result<FragmentIndex> index = ReadFragmentIndex(path);
    if (!index) return std::move(index).TakeError();
    found.push_back({path, std::move(*index)});
  }
  if (error && error != std::errc::no_such_file_or_directory) {
    return util::Fail("Failed to list fragments in " + fragments_root.string() + ": " +
                      error.message());
  }
  std::sort(found.begin(), found.end(),
            [](const FragmentSource& left, const FragmentSource& right) {
              return left.index.first_file < right.index.first_file;
            });
  std::uint64_t next_free = 0;
  for (const FragmentSource& fragment : found) {
    for (const FileProcessingSummary& file : fragment.index.files) {
      const std::uint64_t index = file.file_index;
      if (index < next_free || index >= files.size() ||
          file.input_path != files[index].filename()) {
        return util::Fail("Cannot resume: fragment " + fragment.path.string() +
                          " does not belong to the input files now listed.");
      }
      next_free = index + 1;
    }
  }
  return found;
}

// The state of one parallel run, shared by the runner thread, the workers and the autotuner.
class ParallelRun {
 public:
  explicit ParallelRun(const ConversionOptions& options)
      : options_(options),
        paths_(ResolvePaths(options)),
        router_(options.output_shard_count),
        ceiling_mib_(ResolveMemoryCeilingMib(options)),
        manifest_(paths_.manifest),
        reject_log_(paths_.reject_log) {}

  util::Result<ConversionSummary> Execute() {
    util::Result<void> prepared = Prepare();
    if (!prepared) return std::move(prepared).TakeError();
    ConvertPendingGroups();
    if (failure_.failed()) return FailAfterWorkers();
    return MergeAndFinish();
  }

 private:
  util::Result<void> Prepare() {
    util::Result<void> valid = CheckOptionLimits(options_);
    if (!valid) return valid;
    util::Result<std::vector<fs::path>> files =
        io::ListFenFiles(options_.input_directory, options_.max_input_files);
    if (!files) return std::move(files).TakeError();
    files_ = std::move(*files);
    // Refused before anything is touched: not even one worker fits under the ceiling.
    util::Result<void> fits =
        CheckMemoryNeed(ceiling_mib_, MinimumWorkerMemoryBytes(options_),
                        "a parallel worker at level " + std::to_string(options_.compression_level));
    if (!fits) return fits;

    util::Result<void> created =
        CreateDirectory(options_.output_directory, "Failed to create output directory: ");
    if (!created) return created;
    created = CreateDirectory(paths_.scratch, "Failed to create scratch directory: ");
    if (!created) return created;
    util::Result<void> space = CheckFreeSpace();
    if (!space) return space;

    util::Result<void> completed = LoadCompleted();
    if (!completed) return completed;
    // Removed only now, after the checks that leave an earlier run's output untouched when they
    // fail, and before the manifest and the reject log are rewritten.
    util::Result<void> removed = RemoveStaleRunSummary(options_.output_directory);
    if (!removed) return removed;
    removed = RemoveStaleShardIndex(options_.output_directory);
    if (!removed) return removed;
    util::Result<void> opened = manifest_.Open(ManifestOptions(), options_.resume);
    if (opened && !recovered_.empty()) opened = RecordRecoveredFiles();
    if (!opened) return opened;
    util::Result<std::uint64_t> log_opened = reject_log_.Open();
    if (!log_opened) return std::move(log_opened).TakeError();
    created = CreateDirectory(paths_.fragments_root, "Failed to create scratch directory: ");
    if (!created) return created;
    PlanFiles();
    InitialiseWorkers();
    return {};
  }

  util::Result<void> CheckFreeSpace() const {
    std::string message;
    if (HasEnoughFreeSpace(paths_.scratch, options_.min_free_space_bytes, message)) return {};
    return util::Fail(message);
  }

  // With --resume: the files the manifest records, checked against today's listing, and the
  // fragments earlier runs completed. A file a fragment holds is not converted again: it is
  // skipped when the manifest records it, and recovered (its record written by this run, from
  // the fragment) when a kill took the record. Without --resume, earlier fragments are removed.
  util::Result<void> LoadCompleted() {
    if (!options_.resume) {
      RemoveTree(paths_.fragments_root);
      return {};
    }
    util::Result<std::map<std::uint64_t, std::string>> recorded =
        LoadCompletedFiles(paths_.manifest);
    if (!recorded) return std::move(recorded).TakeError();
    util::Result<void> names = CheckResumedFileNames(*recorded, files_, paths_.manifest);
    if (!names) return names;
    util::Result<std::vector<FragmentSource>> earlier =
        FindEarlierFragments(paths_.fragments_root, files_);
    if (!earlier) return std::move(earlier).TakeError();

    summaries_.resize(files_.size());
    std::vector<bool> held(files_.size(), false);
    for (const FragmentSource& fragment : *earlier) {
      kept_groups_.push_back({fragment.index.first_file, fragment.index.files.size()});
      for (const FileProcessingSummary& file : fragment.index.files) {
        held[file.file_index] = true;
        FileProcessingSummary& summary = summaries_[file.file_index];
        if (recorded->contains(file.file_index)) {
          summary.skipped = true;
          ++skipped_files_;
        } else {
          summary = file;
          recovered_.push_back(file.file_index);
        }
        summary.file_index = file.file_index;
        summary.input_path = files_[file.file_index];
      }
    }
    for (const auto& entry : *recorded) {
      if (entry.first < files_.size() && !held[entry.first]) {
        return util::Fail("Resume requested but no fragment holds completed file index " +
                          std::to_string(entry.first));
      }
    }
    return {};
  }

  // Records the files whose fragment an earlier run completed but whose records it did not write.
  util::Result<void> RecordRecoveredFiles() {
    std::vector<FileProcessingSummary> recovered;
    recovered.reserve(recovered_.size());
    for (const std::uint64_t file : recovered_) recovered.push_back(summaries_[file]);
    return manifest_.AppendFileRecords(recovered);
  }

  ConversionOptions ManifestOptions() const {
    ConversionOptions options = options_;
    options.execution_mode = ExecutionMode::kParallel;
    options.scratch_directory = paths_.scratch;
    options.manifest_path = paths_.manifest;
    options.reject_log_path = paths_.reject_log;
    return options;
  }

  // The files no kept fragment holds.
  void PlanFiles() {
    summaries_.resize(files_.size());
    std::vector<bool> held(files_.size(), false);
    for (const FileGroup& group : kept_groups_) {
      std::fill_n(held.begin() + static_cast<std::ptrdiff_t>(group.first_file), group.file_count,
                  true);
    }
    for (std::uint64_t file = 0; file < files_.size(); ++file) {
      if (!held[file]) pending_.push_back(file);
    }
    file_sizes_ = FileSizes(files_);
  }

  void InitialiseWorkers() {
    const std::uint64_t hardware = std::max(std::thread::hardware_concurrency(), 1U);
    caps_ = ComputeWorkerCaps(options_, pending_.size(), hardware, 0);
    memory_ =
        PlanWorkerMemory(options_, MemoryCeilingBytes(ceiling_mib_), caps_.effective_max_workers);
    caps_.effective_max_workers = memory_.workers;
    knobs_.active_workers = InitialActiveWorkers(options_, caps_.effective_max_workers);
    knobs_.line_batch_size = std::max<std::uint64_t>(options_.line_batch_size, 1);
    knobs_.records_per_flush = std::max<std::uint64_t>(options_.records_per_flush, 1);
    knobs_.compression_level = options_.compression_level;

    // Sized from every file and the workers asked for, not from what is pending, so that a
    // resumed run cuts the files it has left exactly as the interrupted run would have: the
    // frames, and with them the shard files' bytes, come out the same.
    std::uint64_t total_bytes = 0;
    for (const std::uint64_t size : file_sizes_) total_bytes += size;
    groups_ = GroupPendingFiles(pending_, file_sizes_,
                                GroupTargetBytes(total_bytes, caps_.requested_worker_cap));
    if (options_.progress != nullptr) {
      std::uint64_t pending_bytes = 0;
      for (const std::uint64_t file : pending_) pending_bytes += file_sizes_[file];
      options_.progress->files_total = files_.size();
      options_.progress->input_bytes_total = total_bytes;
      options_.progress->AddFilesDone(files_.size() - pending_.size());
      options_.progress->AddInputBytesRead(total_bytes - pending_bytes);
    }
  }

  void ConvertPendingGroups() {
    group_queue_ =
        std::make_unique<BoundedQueue<std::size_t>>(std::max<std::size_t>(groups_.size(), 1));
    for (std::size_t group = 0; group < groups_.size(); ++group) (void)group_queue_->Push(group);
    group_queue_->Close();

    Autotuner autotuner(
        ComputeAutotuneLimits(options_, caps_.effective_max_workers), stats_.read,
        stats_.decompress, stats_.encode, stats_.compress, stats_.write,
        [this] { return group_queue_->Size(); }, knobs_.active_workers, knobs_.line_batch_size,
        knobs_.records_per_flush, knobs_.compression_level,
        [this](const TuningDecision& decision) {
          util::Result<void> appended = manifest_.AppendTuningDecision(decision);
          if (!appended) failure_.Record(appended.error());
        });
    if (options_.enable_autotune && !groups_.empty()) autotuner.Start();

    std::vector<std::thread> workers;
    workers.reserve(caps_.effective_max_workers);
    for (std::uint64_t worker = 0; worker < caps_.effective_max_workers; ++worker) {
      workers.emplace_back([this, worker] { WorkerLoop(worker); });
    }
    for (std::thread& thread : workers) thread.join();
    autotuner.Stop();
  }

  void WorkerLoop(std::uint64_t worker) {
    // Made on the worker's first task: a worker that finds no work holds no buffers.
    std::unique_ptr<WorkerResources> resources;
    while (!failure_.failed()) {
      if (worker < knobs_.active_workers.load()) {
        std::optional<std::size_t> group = group_queue_->Pop().item;
        if (!group) return;
        if (!resources) {
          resources =
              std::make_unique<WorkerResources>(router_.shard_count(), memory_.record_budget_bytes);
        }
        if (!ConvertGroup(groups_[*group], *resources)) return;
      } else {
        if (group_queue_->Size() == 0) return;
        std::this_thread::sleep_for(kIdleWorkerPoll);
      }
    }
  }

  // Converts one group and records its files; false when the run has failed.
  bool ConvertGroup(const FileGroup& group, WorkerResources& resources) {
    util::Result<void> space = CheckFreeSpace();
    if (!space) return Fail(space.error());
    const FileGroupTask task{group, files_, paths_.fragments_root, knobs_.Read()};
    util::Result<std::vector<FileProcessingSummary>> converted =
        ConvertFileGroup(task, options_, router_, resources);
    if (!converted) return Fail(converted.error());
    for (const FileProcessingSummary& file : *converted) {
      summaries_[file.file_index] = file;
      stats_.AddFile(file);
    }
    util::Result<void> recorded = manifest_.AppendFileRecords(*converted);
    if (!recorded) return Fail(recorded.error());
    return true;
  }

  bool Fail(const std::string& message) {
    failure_.Record(message);
    return false;
  }

  util::Error FailAfterWorkers() {
    const util::Result<std::uint64_t> closed = reject_log_.Close();
    if (std::optional<std::string> message = failure_.message(); message && !message->empty()) {
      return util::Fail(*message);
    }
    if (!closed) return util::Fail(closed.error());
    return util::Fail("Parallel conversion failed.");
  }

  // Every group, kept and new, in file order, with its fragment's index.
  util::Result<std::vector<FragmentSource>> FragmentsInFileOrder() const {
    std::vector<FileGroup> all = kept_groups_;
    all.insert(all.end(), groups_.begin(), groups_.end());
    std::sort(all.begin(), all.end(), [](const FileGroup& left, const FileGroup& right) {
      return left.first_file < right.first_file;
    });
    std::vector<FragmentSource> sources;
    sources.reserve(all.size());
    for (const FileGroup& group : all) {
      const fs::path path = WithSuffix(StemPath(paths_.fragments_root, group), kFragmentSuffix);
      util::Result<FragmentIndex> index = ReadFragmentIndex(path);
      if (!index) return std::move(index).TakeError();
      sources.push_back({path, std::move(*index)});
    }
    return sources;
  }

  // rejects.tsv receives every group's rows in file order, kept groups' included.
  util::Result<void> CollectRejects(const std::vector<FragmentSource>& fragments) {
    for (const FragmentSource& fragment : fragments) {
      fs::path rows = fragment.path;
      rows.replace_extension(kRejectPartSuffix);
      util::Result<std::uint64_t> appended =
          reject_log_.AppendRowsOf(rows, fragment.index.reject_rows);
      if (!appended) return std::move(appended).TakeError();
    }
    return {};
  }

  util::Result<ConversionSummary> MergeAndFinish() {
    util::Result<std::vector<FragmentSource>> fragments = FragmentsInFileOrder();
    if (!fragments) return CloseRejectLogAndFail(fragments.error());
    util::Result<void> collected = CollectRejects(*fragments);
    if (!collected) return CloseRejectLogAndFail(collected.error());
    const ShardMerger merger(options_.output_directory, options_.precreate_shards,
                             MergeThreadCount(options_, caps_.effective_max_workers), router_,
                             options_.progress);
    util::Result<ShardMergeSummary> merged = merger.Merge(*fragments);
    if (!merged) return CloseRejectLogAndFail(merged.error());
    util::Result<void> indexed = WriteShardIndex(options_.output_directory, merged->shards);
    if (!indexed) return CloseRejectLogAndFail(indexed.error());
    if (options_.verify_output) {
      util::Result<ShardVerificationSummary> verified =
          VerifyShards(options_.output_directory, options_.output_shard_count);
      if (!verified) return CloseRejectLogAndFail(verified.error());
    }
    ConversionSummary summary = AssembleSummary(*merged);

    util::Result<std::uint64_t> closed = reject_log_.Close();
    if (!closed) return std::move(closed).TakeError();
    summary.reject_log_entries = reject_log_.EntryCount();
    summary.elapsed_seconds = run_clock_.ElapsedSeconds();
    util::Result<void> finished = manifest_.WriteFinish(summary, "success");
    if (!finished) return std::move(finished).TakeError();
    util::Result<void> written = WriteParallelRunSummary(options_, summary);
    if (!written) return std::move(written).TakeError();
    if (!options_.keep_scratch) RemoveTree(paths_.fragments_root);
    return summary;
  }

  util::Error CloseRejectLogAndFail(const std::string& message) {
    (void)reject_log_.Close();
    return util::Fail(message);
  }

  ConversionSummary AssembleSummary(const ShardMergeSummary& merged) const {
    ConversionSummary summary;
    summary.execution_mode = ExecutionMode::kParallel;
    summary.input_file_count = files_.size();
    summary.completed_input_files = files_.size();
    summary.skipped_input_files = skipped_files_;
    summary.output_file_count = merged.output_files;
    for (const FileProcessingSummary& file : summaries_) {
      if (!file.skipped) summary += file;
    }
    summary.compressed_output_bytes = merged.merged_bytes;
    summary.write_seconds += merged.write_seconds;
    summary.merge_seconds = merged.merge_seconds;
    summary.requested_worker_cap = caps_.requested_worker_cap;
    summary.pending_file_cap = caps_.pending_file_cap;
    summary.effective_max_workers = caps_.effective_max_workers;
    summary.stdio_worker_cap = caps_.stdio_worker_cap;
    const WorkerKnobs knobs = knobs_.Read();
    summary.final_active_workers = knobs.active_workers;
    summary.reader_worker_count = knobs.active_workers;
    summary.final_line_batch_size = knobs.line_batch_size;
    summary.final_records_per_flush = knobs.records_per_flush;
    summary.final_compression_level = knobs.compression_level;
    summary.scratch_directory = paths_.scratch;
    summary.manifest_path = paths_.manifest;
    summary.reject_log_path = paths_.reject_log;
    summary.memory_ceiling_mib = ceiling_mib_;
    summary.memory_worker_cap = memory_.memory_worker_cap;
    return summary;
  }

  const ConversionOptions& options_;
  const util::Stopwatch run_clock_;
  const RunPaths paths_;
  const ShardRouter router_;
  const std::uint64_t ceiling_mib_;
  RunManifest manifest_;
  RejectLogger reject_log_;
  std::vector<fs::path> files_;
  std::vector<std::uint64_t> file_sizes_;
  std::vector<FileGroup> kept_groups_;
  std::uint64_t skipped_files_ = 0;
  std::vector<std::uint64_t> recovered_;
  std::vector<std::uint64_t> pending_;
  std::vector<FileGroup> groups_;
  std::vector<FileProcessingSummary> summaries_;
  WorkerCaps caps_;
  WorkerMemoryPlan memory_;
  KnobCells knobs_;
  WorkerStageStats stats_;
  std::unique_ptr<BoundedQueue<std::size_t>> group_queue_;
  FirstFailure failure_;
};

}  // namespace

util::Result<ConversionSummary> ParallelConversionRunner::Run() const {
  return ParallelRun(options_).Execute();
}

util::Result<void> WriteParallelRunSummary(const ConversionOptions& options,
                                           const ConversionSummary& summary) {
  RunSummaryFile file(3);
  file.AddRunStart("parallel", options);
  file.Add("scratch_directory", summary.scratch_directory);
  file.AddShardSettings(options);
  file.Add("line_batch_size", options.line_batch_size);
  file.Add("input_file_count", summary.input_file_count);
  file.Add("completed_input_files", summary.completed_input_files);
  file.Add("skipped_input_files", summary.skipped_input_files);
  file.Add("output_file_count", summary.output_file_count);
  file.AddLineCounts(summary);
  file.Add("reject_log_entries", summary.reject_log_entries);
  file.AddWorkerCaps(summary);
  file.Add("stdio_worker_cap", summary.stdio_worker_cap);
  file.AddVolumesAndTimes(summary);
  file.Add("merge_seconds", summary.merge_seconds);
  file.Add("final_active_workers", summary.final_active_workers);
  file.Add("final_line_batch_size", summary.final_line_batch_size);
  file.Add("final_records_per_flush", summary.final_records_per_flush);
  file.Add("final_compression_level", summary.final_compression_level);
  file.Add("manifest_path", summary.manifest_path);
  file.Add("reject_log_path", summary.reject_log_path);
  file.AddEffectiveRate(summary);
  file.AddMemoryCeiling(summary);
  return file.WriteInto(options.output_directory);
}

}  // namespace boardmill::pipeline
