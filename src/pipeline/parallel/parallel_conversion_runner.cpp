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
#include "pipeline/conversion_locks.h"
#include "pipeline/first_failure.h"
#include "pipeline/memory_ceiling.h"
#include "pipeline/option_limits.h"
#include "pipeline/parallel/autotuner.h"
#include "pipeline/parallel/free_space.h"
#include "pipeline/parallel/process_file_task.h"
#include "pipeline/parallel/run_manifest.h"
#include "pipeline/parallel/shard_merger.h"
#include "pipeline/parallel/worker_caps.h"
#include "pipeline/reject_logger.h"
#include "pipeline/run_summary_file.h"
#include "pipeline/sanitize_field.h"
#include "pipeline/shard_verification.h"
#include "pipeline/stage_stats.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr auto kIdleWorkerPoll = std::chrono::milliseconds(50);
constexpr std::size_t kFragmentIndexDigits = 6;

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

fs::path FragmentDirectory(const fs::path& fragments_root, std::uint64_t file_index) {
  std::string index = std::to_string(file_index);
  if (index.size() < kFragmentIndexDigits)
    index.insert(0, kFragmentIndexDigits - index.size(), '0');
  return fragments_root / ("file-" + index);
}

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

// The tunable values workers read when they start a file; the autotuner is their only writer.
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

// The state of one parallel run, shared by the runner thread, the workers and the autotuner.
class ParallelRun {
 public:
  explicit ParallelRun(const ConversionOptions& options)
      : options_(options),
        paths_(ResolvePaths(options)),
        router_(options.output_shard_count),
        manifest_(paths_.manifest),
        reject_log_(paths_.reject_log) {}

  util::Result<ConversionSummary> Execute() {
    util::Result<void> prepared = Prepare();
    if (!prepared) return std::move(prepared).TakeError();
    ConvertPendingFiles();
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

    util::Result<io::RunLocks> locks = AcquireRunLocks(options_, ExecutionMode::kParallel);
    if (!locks) return std::move(locks).TakeError();
    locks_ = std::move(*locks);
    util::Result<void> created =
        CreateDirectory(paths_.scratch, "Failed to create scratch directory: ");
    if (!created) return created;
    util::Result<void> space = CheckFreeSpace();
    if (!space) return space;

    util::Result<void> completed = LoadCompleted();
    if (!completed) return completed;
    // Removed only now, after the checks that leave an earlier run's output untouched when they
    // fail, and before the manifest and the reject log are rewritten.
    util::Result<void> removed = RemoveStaleRunSummary(options_.output_directory);
    if (!removed) return removed;
    util::Result<void> opened = manifest_.Open(ManifestOptions(), options_.resume);
    if (!opened) return opened;
    util::Result<std::uint64_t> log_opened = reject_log_.Open();
    if (!log_opened) return std::move(log_opened).TakeError();
    util::Result<void> planned = PlanFiles();
    if (!planned) return planned;
    InitialiseKnobs();
    return {};
  }

  util::Result<void> CheckFreeSpace() const {
    std::string message;
    if (HasEnoughFreeSpace(paths_.scratch, options_.min_free_space_bytes, message)) return {};
    return util::Fail(message);
  }

  util::Result<void> LoadCompleted() {
    if (!options_.resume) {
      RemoveTree(paths_.fragments_root);
      return {};
    }
    util::Result<std::map<std::uint64_t, std::string>> completed =
        LoadCompletedFiles(paths_.manifest);
    if (!completed) return std::move(completed).TakeError();
    util::Result<void> names = CheckResumedFileNames(*completed, files_, paths_.manifest);
    if (!names) return names;
    for (const auto& entry : *completed) completed_.insert(entry.first);
    return {};
  }

  ConversionOptions ManifestOptions() const {
    ConversionOptions options = options_;
    options.execution_mode = ExecutionMode::kParallel;
    options.scratch_directory = paths_.scratch;
    options.manifest_path = paths_.manifest;
    options.reject_log_path = paths_.reject_log;
    return options;
  }

  // Sizes the per-file tables and sorts the files into skipped (completed earlier) and pending.
  util::Result<void> PlanFiles() {
    fragment_directories_.reserve(files_.size());
    summaries_.resize(files_.size());
    for (std::uint64_t index = 0; index < files_.size(); ++index) {
      fragment_directories_.push_back(FragmentDirectory(paths_.fragments_root, index));
      if (!completed_.contains(index)) {
        RemoveTree(fragment_directories_[index]);
        pending_.push_back(index);
        continue;
      }
      std::error_code error;
      const bool exists = fs::exists(fragment_directories_[index], error);
      if (error) {
        return util::Fail("Failed to check fragment directory " +
                          fragment_directories_[index].string() + ": " + error.message());
      }
      if (!exists) {
        return util::Fail(
            "Resume requested but fragment directory is missing for completed file index " +
            std::to_string(index));
      }
      summaries_[index].file_index = index;
      summaries_[index].input_path = files_[index];
      summaries_[index].skipped = true;
    }
    return {};
  }

  void InitialiseKnobs() {
    const std::uint64_t hardware = std::max(std::thread::hardware_concurrency(), 1U);
    caps_ = ComputeWorkerCaps(options_, pending_.size(), hardware, 0);
    knobs_.active_workers = InitialActiveWorkers(options_, caps_.effective_max_workers);
    knobs_.line_batch_size = std::max<std::uint64_t>(options_.line_batch_size, 1);
    knobs_.records_per_flush = std::max<std::uint64_t>(options_.records_per_flush, 1);
    knobs_.compression_level = options_.compression_level;
  }

  void ConvertPendingFiles() {
    file_queue_ =
        std::make_unique<BoundedQueue<std::uint64_t>>(std::max<std::size_t>(pending_.size(), 1));
    for (const std::uint64_t index : pending_) (void)file_queue_->Push(index);
    file_queue_->Close();

    Autotuner autotuner(
        ComputeAutotuneLimits(options_, caps_.effective_max_workers), stats_.read,
        stats_.decompress, stats_.encode, stats_.compress, stats_.write,
        [this] { return file_queue_->Size(); }, knobs_.active_workers, knobs_.line_batch_size,
        knobs_.records_per_flush, knobs_.compression_level,
        [this](const TuningDecision& decision) {
          util::Result<void> appended = manifest_.AppendTuningDecision(decision);
          if (!appended) failure_.Record(appended.error());
        });
    if (options_.enable_autotune && !pending_.empty()) autotuner.Start();

    std::vector<std::thread> workers;
    workers.reserve(caps_.effective_max_workers);
    for (std::uint64_t worker = 0; worker < caps_.effective_max_workers; ++worker) {
      workers.emplace_back([this, worker] { WorkerLoop(worker); });
    }
    for (std::thread& thread : workers) thread.join();
    autotuner.Stop();
  }

  void WorkerLoop(std::uint64_t worker) {
    while (!failure_.failed()) {
      if (worker < knobs_.active_workers.load()) {
        std::optional<std::uint64_t> index = file_queue_->Pop().item;
        if (!index || !ConvertFile(*index)) return;
      } else {
        if (file_queue_->Size() == 0) return;
        std::this_thread::sleep_for(kIdleWorkerPoll);
      }
    }
  }

  // Converts one file and records it; false when the run has failed.
  bool ConvertFile(std::uint64_t index) {
    util::Result<void> space = CheckFreeSpace();
    if (!space) return Fail(space.error());
    util::Result<FileProcessingSummary> converted =
        ProcessFileTask(index, files_[index], fragment_directories_[index], options_, knobs_.Read(),
                        reject_log_, router_);
    if (!converted) return Fail(converted.error());
    summaries_[index] = *converted;
    stats_.AddFile(*converted);
    util::Result<void> recorded = manifest_.AppendFileRecord(*converted);
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

  util::Result<ConversionSummary> MergeAndFinish() {
    const ShardMerger merger(options_.output_directory, options_.precreate_shards,
                             MergeThreadCount(options_, caps_.effective_max_workers), router_);
    util::Result<ShardMergeSummary> merged = merger.Merge(fragment_directories_);
    if (!merged) return CloseRejectLogAndFail(merged.error());
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
    summary.skipped_input_files = completed_.size();
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
    summary.memory_ceiling_mib = ResolveMemoryCeilingMib(options_);
    summary.memory_worker_cap = caps_.effective_max_workers;
    return summary;
  }

  const ConversionOptions& options_;
  const util::Stopwatch run_clock_;
  const RunPaths paths_;
  const ShardRouter router_;
  io::RunLocks locks_;  // declared before the writers, so released only after they are closed
  RunManifest manifest_;
  RejectLogger reject_log_;
  std::vector<fs::path> files_;
  std::vector<fs::path> fragment_directories_;
  std::set<std::uint64_t> completed_;
  std::vector<std::uint64_t> pending_;
  std::vector<FileProcessingSummary> summaries_;
  WorkerCaps caps_;
  KnobCells knobs_;
  WorkerStageStats stats_;
  std::unique_ptr<BoundedQueue<std::uint64_t>> file_queue_;
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
