#include "pipeline/parallel/parallel_conversion_runner.h"

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "io/create_directories.h"
#include "io/input_discovery.h"
#include "io/mpi_job.h"
#include "pipeline/conversion_locks.h"
#include "pipeline/first_failure.h"
#include "pipeline/index_and_verify_shards.h"
#include "pipeline/option_limits.h"
#include "pipeline/parallel/autotuner.h"
#include "pipeline/parallel/earlier_run.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/file_group_task.h"
#include "pipeline/parallel/fragment_file.h"
#include "pipeline/parallel/free_space.h"
#include "pipeline/parallel/group_source.h"
#include "pipeline/parallel/rank_handshake.h"
#include "pipeline/parallel/rank_message.h"
#include "pipeline/parallel/remote_group_source.h"
#include "pipeline/parallel/run_manifest.h"
#include "pipeline/parallel/shard_merger.h"
#include "pipeline/parallel/worker_caps.h"
#include "pipeline/parallel/worker_memory.h"
#include "pipeline/reject_logger.h"
#include "pipeline/run_summary_file.h"
#include "pipeline/stage_stats.h"
#include "run/memory_ceiling.h"
#include "run/run_outcome_files.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr auto kIdleWorkerPoll = std::chrono::milliseconds(50);

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

void RemoveTree(const fs::path& path) {
  std::error_code ignored;
  fs::remove_all(path, ignored);
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

// The caps a rank reports to rank 0 when it is ready, summed over the ranks for the summary.
struct RankCaps {
  std::uint64_t requested_worker_cap = 0;
  std::uint64_t effective_max_workers = 0;
  std::uint64_t stdio_worker_cap = 0;
  std::uint64_t memory_worker_cap = 0;
  std::uint64_t final_active_workers = 0;
};

// The state of one parallel run, shared by the runner thread, the workers and the autotuner.
// Alone, the process does everything. Across an MPI job rank 0 prepares the run, hands out the
// groups, keeps the manifest and the reject log and finishes the run, and every rank converts the
// groups it is given and merges every K-th shard; only rank 0's main thread talks to the others.
class ParallelRun {
 public:
  explicit ParallelRun(const ConversionOptions& options)
      : options_(options),
        job_(options.mpi_job != nullptr && options.mpi_job->size() > 1 ? options.mpi_job : nullptr),
        paths_(ResolvePaths(options)),
        router_(options.output_shard_count),
        ceiling_mib_(run::ResolveMemoryCeilingMib(options.memory_ceiling_mib)),
        manifest_(paths_.manifest),
        reject_log_(paths_.reject_log) {}

  util::Result<ConversionSummary> Execute() {
    if (job_ == nullptr) return ExecuteAlone();
    return job_->rank() == 0 ? ExecuteAsRankZero() : ExecuteAsOtherRank();
  }

 private:
  util::Result<ConversionSummary> ExecuteAlone() {
    util::Result<void> prepared = Prepare();
    if (!prepared) return std::move(prepared).TakeError();
    ConvertPendingGroups();
    if (failure_.failed()) return FailAfterWorkers();
    util::Result<std::vector<FragmentSource>> fragments = FragmentsInFileOrder(AllGroups());
    if (!fragments) return CloseRejectLogAndFail(fragments.error());
    return MergeAndFinish(*fragments, Merge(*fragments, {}));
  }

  // --- Across an MPI job: rank 0 ---------------------------------------------------------------

  util::Result<ConversionSummary> ExecuteAsRankZero() {
    util::Result<void> prepared = PrepareDirectories();
    SharedDirectoryMarks marks;
    if (prepared) {
      util::Result<SharedDirectoryMarks> marked = MarkSharedDirectories(SharedDirectories());
      if (marked) marks = std::move(*marked);
      if (!marked) prepared = std::move(marked).TakeError();
    }
    std::vector<std::uint8_t> start = StartMessage(prepared, marks, files_);
    job_->Broadcast(start, 0);
    if (!prepared) return std::move(prepared).TakeError();

    // Nothing an earlier run left is touched before every rank is known to share the directories.
    util::Result<void> ready = CollectReadyRanks();
    RemoveMarks(marks);
    if (ready) ready = PrepareRun();
    std::vector<std::uint8_t> go = OutcomeWriter(RankMessageKind::kGo, ready).Take();
    job_->Broadcast(go, 0);
    if (!ready) return CloseRejectLogAndFail(ready.error());

    ConvertPendingGroups();
    std::vector<FileGroup> groups = AllGroups();
    util::Result<std::vector<FragmentSource>> fragments =
        failure_.failed() ? util::Result<std::vector<FragmentSource>>(FailAfterWorkers())
                          : FragmentsInFileOrder(groups);
    util::Result<void> converted;
    if (!fragments) converted = util::Fail(fragments.error());
    std::vector<std::uint8_t> announced = ConvertedMessage(converted, groups);
    job_->Broadcast(announced, 0);
    if (!fragments) return CloseRejectLogAndFail(fragments.error());

    const util::Stopwatch merge_clock;
    util::Result<ShardMergeSummary> merged = Merge(*fragments, OwnShards());
    merged = CollectMergedRanks(std::move(merged));
    if (merged) merged->merge_seconds = merge_clock.ElapsedSeconds();
    return MergeAndFinish(*fragments, std::move(merged));
  }

  std::vector<fs::path> SharedDirectories() const {
    std::vector<fs::path> directories = {options_.output_directory};
    if (paths_.scratch.lexically_relative(options_.output_directory).string().starts_with("..") ||
        paths_.scratch.is_absolute() != options_.output_directory.is_absolute()) {
      directories.push_back(paths_.scratch);
    }
    return directories;
  }

  // Every other rank says whether it sees the shared directories and what caps it runs with.
  util::Result<void> CollectReadyRanks() {
    util::Result<void> outcome;
    for (int ranks = job_->size() - 1; ranks > 0; --ranks) {
      int source = 0;
      const std::vector<std::uint8_t> message =
          job_->Receive(io::MpiJob::kAnySource, kToCoordinatorTag, source);
      RankMessageReader reader(message);
      util::Result<void> ready = ReadOutcome(reader);
      AddRankCaps(reader);
      if (outcome && !ready) outcome = std::move(ready);
    }
    return outcome;
  }

  void AddRankCaps(RankMessageReader& reader) {
    other_caps_.requested_worker_cap += reader.Number();
    other_caps_.effective_max_workers += reader.Number();
    other_caps_.stdio_worker_cap += reader.Number();
    other_caps_.memory_worker_cap += reader.Number();
  }

  // Serves the other ranks until every one has finished converting: groups to those who ask,
  // their completed groups into the manifest and the summaries, their tuning decisions and their
  // failures.
  void CoordinateRanks() {
    for (int running = job_->size() - 1; running > 0;) {
      int source = 0;
      const std::vector<std::uint8_t> message =
          job_->Receive(io::MpiJob::kAnySource, kToCoordinatorTag, source);
      RankMessageReader reader(message);
      switch (reader.Kind()) {
        case RankMessageKind::kRequest:
          job_->Send(source, kToRankTag, NextAssignment());
          break;
        case RankMessageKind::kCompleted:
          RecordRemoteGroup(reader.Group());
          break;
        case RankMessageKind::kTuning:
          RecordTuning(ReadTuningDecision(reader));
          break;
        case RankMessageKind::kFailed:
          Fail(reader.Text());
          break;
        case RankMessageKind::kFinished:
          other_caps_.final_active_workers += reader.Number();
          --running;
          break;
        default:
          Fail("Rank " + std::to_string(source) + " of the MPI job sent a message out of turn.");
      }
    }
  }

  std::vector<std::uint8_t> NextAssignment() {
    const std::optional<FileGroup> group = failure_.failed() ? std::nullopt : dispenser_->Next();
    if (!group) return RankMessageWriter(RankMessageKind::kNoMore).Take();
    return RankMessageWriter(RankMessageKind::kAssign)
        .Group(*group)
        .Number(dispenser_->Backlog())
        .Take();
  }

  static TuningDecision ReadTuningDecision(RankMessageReader& reader) {
    TuningDecision decision;
    decision.elapsed_seconds = reader.Real();
    decision.active_workers = reader.Number();
    decision.line_batch_size = reader.Number();
    decision.records_per_flush = reader.Number();
    decision.compression_level = static_cast<std::int32_t>(reader.Number());
    decision.throughput = reader.Real();
    decision.reason = reader.Text();
    return decision;
  }

  // Another rank's group is complete: its fragment, on the shared scratch directory, holds the
  // files' summaries.
  void RecordRemoteGroup(const FileGroup& group) {
    const fs::path path = FragmentPath(paths_.fragments_root, group);
    util::Result<FragmentIndex> index = ReadFragmentIndex(path);
    if (!index) {
      Fail(index.error());
      return;
    }
    for (FileProcessingSummary& file : index->files) {
      file.input_path = files_[file.file_index];
      if (options_.progress != nullptr) {
        options_.progress->AddInputBytesRead(file.compressed_input_bytes);
        options_.progress->AddLines(file.encoded_positions, file.invalid_positions);
        options_.progress->AddFilesDone(1);
      }
    }
    RecordGroup(index->files);
  }

  // Every other rank's merge tallies, added to this rank's.
  util::Result<ShardMergeSummary> CollectMergedRanks(util::Result<ShardMergeSummary> merged) {
    for (int ranks = job_->size() - 1; ranks > 0; --ranks) {
      int source = 0;
      const std::vector<std::uint8_t> message =
          job_->Receive(io::MpiJob::kAnySource, kToCoordinatorTag, source);
      RankMessageReader reader(message);
      util::Result<void> outcome = ReadOutcome(reader);
      const std::uint64_t output_files = reader.Number();
      const std::uint64_t merged_bytes = reader.Number();
      const double write_seconds = reader.Real();
      if (merged && !outcome) merged = std::move(outcome).TakeError();
      if (!merged) continue;
      merged->output_files += output_files;
      merged->merged_bytes += merged_bytes;
      merged->write_seconds += write_seconds;
      const ShardSubset theirs{static_cast<std::uint64_t>(source),
                               static_cast<std::uint64_t>(job_->size())};
      for (std::uint64_t id = theirs.first; id < merged->shards.size(); id += theirs.step) {
        merged->shards[id] = {reader.Number(), reader.Number(), reader.Number()};
      }
    }
    return merged;
  }

  // --- Across an MPI job: every other rank ------------------------------------------------------

  util::Result<ConversionSummary> ExecuteAsOtherRank() {
    std::vector<std::uint8_t> start;
    job_->Broadcast(start, 0);
    SharedDirectoryMarks marks;
    util::Result<void> started = ReadStartMessage(start, marks, files_);
    if (!started) return std::move(started).TakeError();

    util::Result<void> ready = CheckSharedDirectories(marks, job_->rank());
    if (ready) ready = CheckOptionLimits(options_);
    if (ready) ready = CheckWorkerFits();
    if (ready) PlanRankWorkers();
    RankMessageWriter ready_message = OutcomeWriter(RankMessageKind::kReady, ready);
    ready_message.Number(caps_.requested_worker_cap)
        .Number(caps_.effective_max_workers)
        .Number(caps_.stdio_worker_cap)
        .Number(memory_.memory_worker_cap);
    job_->Send(0, kToCoordinatorTag, ready_message.Take());
    std::vector<std::uint8_t> go;
    job_->Broadcast(go, 0);
    RankMessageReader go_reader(go);
    util::Result<void> going = ReadOutcome(go_reader);
    if (!going) return std::move(going).TakeError();

    ConvertPendingGroups();
    std::vector<std::uint8_t> announced;
    job_->Broadcast(announced, 0);
    std::vector<FileGroup> groups;
    util::Result<void> converted = ReadConvertedMessage(announced, groups);
    if (!converted) return std::move(converted).TakeError();

    util::Result<std::vector<FragmentSource>> fragments = FragmentsInFileOrder(groups);
    util::Result<ShardMergeSummary> merged =
        fragments ? Merge(*fragments, OwnShards())
                  : util::Result<ShardMergeSummary>(util::Fail(fragments.error()));
    const util::Result<void> outcome =
        merged ? util::Result<void>() : util::Result<void>(util::Fail(merged.error()));
    const ShardMergeSummary tally = merged ? *merged : ShardMergeSummary{};
    RankMessageWriter report = OutcomeWriter(RankMessageKind::kMerged, outcome);
    report.Number(tally.output_files).Number(tally.merged_bytes).Real(tally.write_seconds);
    // Rank 0 writes the shard index, so it needs what this rank's shards hold and hash to.
    const ShardSubset own = OwnShards();
    for (std::uint64_t id = own.first; id < tally.shards.size(); id += own.step) {
      report.Number(tally.shards[id].records)
          .Number(tally.shards[id].bytes)
          .Number(tally.shards[id].xxh64);
    }
    job_->Send(0, kToCoordinatorTag, report.Take());
    if (!merged) return std::move(merged).TakeError();
    // Rank 0 reports the run; this rank's summary goes nowhere.
    return ConversionSummary{};
  }

  // Every rank merges every K-th shard, from its own rank number.
  ShardSubset OwnShards() const {
    return {static_cast<std::uint64_t>(job_->rank()), static_cast<std::uint64_t>(job_->size())};
  }

  // --- Preparing (alone, or rank 0) -------------------------------------------------------------

  util::Result<void> Prepare() {
    util::Result<void> prepared = PrepareDirectories();
    if (prepared) prepared = PrepareRun();
    return prepared;
  }

  // The checks that refuse a run before it changes anything, and the directories it writes.
  util::Result<void> PrepareDirectories() {
    util::Result<void> valid = CheckOptionLimits(options_);
    if (!valid) return valid;
    util::Result<std::vector<fs::path>> files =
        io::ListFenFiles(options_.input_directory, options_.max_input_files);
    if (!files) return std::move(files).TakeError();
    files_ = std::move(*files);
    util::Result<void> fits = CheckWorkerFits();
    if (!fits) return fits;

    util::Result<io::RunLocks> locks = AcquireRunLocks(options_, ExecutionMode::kParallel);
    if (!locks) return std::move(locks).TakeError();
    locks_ = std::move(*locks);
    util::Result<void> created =
        io::CreateDirectories(paths_.scratch, "Failed to create scratch directory: ");
    if (!created) return created;
    return CheckFreeSpace();
  }

  // What an earlier run left, the manifest and the reject log, and the plan of the groups.
  util::Result<void> PrepareRun() {
    util::Result<void> completed = LoadCompleted();
    if (!completed) return completed;
    // Removed only now, after the checks that leave an earlier run's output untouched when they
    // fail, and before the manifest and the reject log are rewritten.
    util::Result<void> removed = run::RemoveEarlierRunOutcome(options_.output_directory);
    if (!removed) return removed;
    util::Result<void> opened = manifest_.Open(ManifestOptions(), options_.resume);
    if (opened && !recovered_.empty()) opened = RecordRecoveredFiles();
    if (!opened) return opened;
    util::Result<std::uint64_t> log_opened = reject_log_.Open();
    if (!log_opened) return std::move(log_opened).TakeError();
    util::Result<void> created =
        io::CreateDirectories(paths_.fragments_root, "Failed to create scratch directory: ");
    if (!created) return created;
    PlanFiles();
    InitialiseWorkers();
    return {};
  }

  // Refused before anything is touched: not even one worker fits under the ceiling.
  util::Result<void> CheckWorkerFits() const {
    return run::CheckMemoryNeed(
        ceiling_mib_, MinimumWorkerMemoryBytes(options_),
        "a parallel worker at level " + std::to_string(options_.compression_level));
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

  // This process's workers: the caps, the memory plan and the knobs' first values.
  void PlanRankWorkers(std::uint64_t pending_files) {
    const std::uint64_t hardware = std::max(std::thread::hardware_concurrency(), 1U);
    caps_ = ComputeWorkerCaps(options_, pending_files, hardware, 0);
    memory_ = PlanWorkerMemory(options_, run::MemoryCeilingBytes(ceiling_mib_),
                               caps_.effective_max_workers);
    caps_.effective_max_workers = memory_.workers;
    knobs_.active_workers = InitialActiveWorkers(options_, caps_.effective_max_workers);
    knobs_.line_batch_size = std::max<std::uint64_t>(options_.line_batch_size, 1);
    knobs_.records_per_flush = std::max<std::uint64_t>(options_.records_per_flush, 1);
    knobs_.compression_level = options_.compression_level;
  }
  void PlanRankWorkers() { PlanRankWorkers(files_.size()); }

  void InitialiseWorkers() {
    PlanRankWorkers(pending_.size());
    // Sized from every file and the workers asked for (on every rank of an MPI job), not from
    // what is pending, so that a resumed run cuts the files it has left exactly as the
    // interrupted run would have: the frames, and with them the shard files' bytes, come out the
    // same.
    std::uint64_t total_bytes = 0;
    for (const std::uint64_t size : file_sizes_) total_bytes += size;
    groups_ =
        GroupPendingFiles(pending_, file_sizes_,
                          GroupTargetBytes(total_bytes, caps_.requested_worker_cap +
                                                            other_caps_.requested_worker_cap));
    if (options_.progress != nullptr) {
      std::uint64_t pending_bytes = 0;
      for (const std::uint64_t file : pending_) pending_bytes += file_sizes_[file];
      options_.progress->files_total = files_.size();
      options_.progress->input_bytes_total = total_bytes;
      options_.progress->AddFilesDone(files_.size() - pending_.size());
      options_.progress->AddInputBytesRead(total_bytes - pending_bytes);
    }
  }

  // --- Converting ------------------------------------------------------------------------------

  void ConvertPendingGroups() {
    if (job_ != nullptr && job_->rank() != 0) {
      remote_ = std::make_unique<RemoteGroupSource>(files_.size());
    } else {
      dispenser_ = std::make_unique<GroupDispenser>(groups_);
    }
    GroupSource& source = remote_ ? static_cast<GroupSource&>(*remote_) : *dispenser_;
    Autotuner autotuner(
        ComputeAutotuneLimits(options_, caps_.effective_max_workers), stats_.read,
        stats_.decompress, stats_.encode, stats_.compress, stats_.write,
        [&source] { return source.Backlog(); }, knobs_.active_workers, knobs_.line_batch_size,
        knobs_.records_per_flush, knobs_.compression_level,
        [this](const TuningDecision& decision) { RecordTuning(decision); });
    if (options_.enable_autotune && (remote_ || !groups_.empty())) autotuner.Start();

    std::vector<std::thread> workers;
    workers.reserve(caps_.effective_max_workers);
    for (std::uint64_t worker = 0; worker < caps_.effective_max_workers; ++worker) {
      workers.emplace_back([this, worker, &source] {
        WorkerLoop(worker, source);
        if (remote_) remote_->WorkerEnded();
      });
    }
    if (remote_) {
      remote_->Serve(*job_, workers.size());
    } else if (job_ != nullptr) {
      CoordinateRanks();
    }
    for (std::thread& thread : workers) thread.join();
    autotuner.Stop();
    if (remote_) remote_->Finish(*job_, knobs_.active_workers.load());
  }

  void WorkerLoop(std::uint64_t worker, GroupSource& source) {
    // Made on the worker's first task: a worker that finds no work holds no buffers.
    std::unique_ptr<WorkerResources> resources;
    while (!failure_.failed()) {
      if (worker < knobs_.active_workers.load()) {
        const std::optional<FileGroup> group = source.Next();
        if (!group) return;
        if (!resources) {
          resources =
              std::make_unique<WorkerResources>(router_.shard_count(), memory_.record_budget_bytes);
        }
        if (!ConvertGroup(*group, *resources)) return;
      } else {
        if (source.Backlog() == 0) return;
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
    for (const FileProcessingSummary& file : *converted) stats_.AddFile(file);
    if (!remote_) return RecordGroup(*converted);
    remote_->Completed(group);
    return true;
  }

  // A group's files into the summaries and, all at once, into the manifest.
  bool RecordGroup(const std::vector<FileProcessingSummary>& files) {
    for (const FileProcessingSummary& file : files) summaries_[file.file_index] = file;
    util::Result<void> recorded = manifest_.AppendFileRecords(files);
    if (!recorded) return Fail(recorded.error());
    return true;
  }

  void RecordTuning(const TuningDecision& decision) {
    if (remote_) {
      remote_->Tuned(decision);
      return;
    }
    util::Result<void> appended = manifest_.AppendTuningDecision(decision);
    if (!appended) Fail(appended.error());
  }

  // Records the run's first failure; the run hands out no more groups.
  bool Fail(const std::string& message) {
    failure_.Record(message);
    if (remote_) remote_->Failed(message);
    if (dispenser_) dispenser_->Stop();
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

  // --- Merging and finishing -------------------------------------------------------------------

  // Every group, kept and new, in file order.
  std::vector<FileGroup> AllGroups() const {
    std::vector<FileGroup> all = kept_groups_;
    all.insert(all.end(), groups_.begin(), groups_.end());
    std::sort(all.begin(), all.end(), [](const FileGroup& left, const FileGroup& right) {
      return left.first_file < right.first_file;
    });
    return all;
  }

  // The groups' fragments with their indexes.
  util::Result<std::vector<FragmentSource>> FragmentsInFileOrder(
      const std::vector<FileGroup>& groups) const {
    std::vector<FragmentSource> sources;
    sources.reserve(groups.size());
    for (const FileGroup& group : groups) {
      const fs::path path = FragmentPath(paths_.fragments_root, group);
      util::Result<FragmentIndex> index = ReadFragmentIndex(path);
      if (!index) return std::move(index).TakeError();
      sources.push_back({path, std::move(*index)});
    }
    return sources;
  }

  util::Result<ShardMergeSummary> Merge(const std::vector<FragmentSource>& fragments,
                                        ShardSubset subset) const {
    const ShardMerger merger(options_.output_directory, options_.precreate_shards,
                             MergeThreadCount(options_, caps_.effective_max_workers), router_,
                             options_.progress);
    return merger.Merge(fragments, subset);
  }

  // rejects.tsv receives every group's rows in file order, kept groups' included.
  util::Result<void> CollectRejects(const std::vector<FragmentSource>& fragments) {
    for (const FragmentSource& fragment : fragments) {
      util::Result<std::uint64_t> appended =
          reject_log_.AppendRowsOf(RejectPartPath(fragment.path), fragment.index.reject_rows);
      if (!appended) return std::move(appended).TakeError();
    }
    return {};
  }

  util::Result<ConversionSummary> MergeAndFinish(const std::vector<FragmentSource>& fragments,
                                                 util::Result<ShardMergeSummary> merged) {
    if (!merged) return CloseRejectLogAndFail(merged.error());
    util::Result<void> collected = CollectRejects(fragments);
    if (!collected) return CloseRejectLogAndFail(collected.error());
    util::Result<void> indexed = IndexAndVerifyShards(options_, merged->shards);
    if (!indexed) return CloseRejectLogAndFail(indexed.error());
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

  // Counts of workers are summed over the ranks of an MPI job; the knobs are rank 0's.
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
    summary.requested_worker_cap = caps_.requested_worker_cap + other_caps_.requested_worker_cap;
    summary.pending_file_cap = caps_.pending_file_cap;
    summary.effective_max_workers = caps_.effective_max_workers + other_caps_.effective_max_workers;
    summary.stdio_worker_cap = caps_.stdio_worker_cap + other_caps_.stdio_worker_cap;
    const WorkerKnobs knobs = knobs_.Read();
    summary.final_active_workers = knobs.active_workers + other_caps_.final_active_workers;
    summary.reader_worker_count = summary.final_active_workers;
    summary.final_line_batch_size = knobs.line_batch_size;
    summary.final_records_per_flush = knobs.records_per_flush;
    summary.final_compression_level = knobs.compression_level;
    summary.scratch_directory = paths_.scratch;
    summary.manifest_path = paths_.manifest;
    summary.reject_log_path = paths_.reject_log;
    summary.memory_ceiling_mib = ceiling_mib_;
    summary.memory_worker_cap = memory_.memory_worker_cap + other_caps_.memory_worker_cap;
    return summary;
  }

  const ConversionOptions& options_;
  const io::MpiJob* const job_;  // null unless the run spans several ranks
  const util::Stopwatch run_clock_;
  const RunPaths paths_;
  const shards::ShardRouter router_;
  const std::uint64_t ceiling_mib_;
  io::RunLocks locks_;  // declared before the writers, so released only after they are closed
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
  RankCaps other_caps_;  // rank 0: what the other ranks reported
  KnobCells knobs_;
  WorkerStageStats stats_;
  std::unique_ptr<GroupDispenser> dispenser_;
  std::unique_ptr<RemoteGroupSource> remote_;
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
