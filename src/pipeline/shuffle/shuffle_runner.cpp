#include "pipeline/shuffle/shuffle_runner.h"

#include <cinttypes>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "compression/compression_level.h"
#include "io/run_locks.h"
#include "pipeline/shuffle/input_shards.h"
#include "pipeline/shuffle/input_spreader.h"
#include "pipeline/shuffle/parallel_tasks.h"
#include "pipeline/shuffle/record_keys.h"
#include "pipeline/shuffle/shard_finisher.h"
#include "pipeline/shuffle/shuffle_plan.h"
#include "pipeline/shuffle/shuffle_progress.h"
#include "pipeline/shuffle/shuffle_ranks.h"
#include "pipeline/shuffle/shuffle_scratch.h"
#include "run/acquire_run_locks.h"
#include "run/free_space.h"
#include "run/memory_ceiling.h"
#include "run/run_limits.h"
#include "run/run_outcome_files.h"
#include "run/unfinished_run.h"
#include "shards/shard_naming.h"
#include "util/bounds.h"
#include "util/byte_digest.h"
#include "util/stopwatch.h"
#include "util/usable_cpus.h"

namespace boardmill::shuffle {

namespace {

namespace fs = std::filesystem;

util::Result<void> CheckOptions(const ShuffleOptions& options) {
  if (options.shard_count == 0) return util::Fail("Output shard count must be at least 1.");
  util::Result<void> checked =
      util::CheckAtMost("Output shard count", options.shard_count, run::kMaxShardCount);
  if (checked)
    checked = util::CheckAtMost("Max threads", options.max_threads, run::kMaxThreadCount);
  if (checked) checked = compression::ValidateCompressionLevel(options.compression_level);
  if (checked)
    checked = CheckOutputOutsideInputs(options.output_directory, options.input_directories);
  return checked;
}

fs::path ScratchDirectory(const ShuffleOptions& options) {
  return options.scratch_directory.empty()
             ? options.output_directory / run::kDefaultScratchDirectoryName
             : options.scratch_directory;
}

// The output directory's volume, and the scratch directory's when it is given: the default one
// lies in the output directory and does not exist yet.
util::Result<void> CheckFreeSpace(const ShuffleOptions& options) {
  for (const fs::path& directory : {options.output_directory, options.scratch_directory}) {
    if (directory.empty()) continue;
    std::string message;
    if (!run::HasEnoughFreeSpace(directory, options.min_free_space_bytes, message)) {
      return util::Fail(message);
    }
  }
  return {};
}

// What a run is, for telling whether the scratch it finds is its own: the settings that shape
// the output and every input shard with what is known of it before it is read.
std::string DescribeRun(const ShuffleOptions& options, const std::vector<InputShard>& inputs) {
  std::string text = "shards=" + std::to_string(options.shard_count) +
                     "\nseed=" + std::to_string(options.seed) +
                     "\ndedup=" + std::string(DedupName(options.dedup)) + "\n";
  for (const InputShard& input : inputs) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(input.path, error);
    text += "input=" + input.path.string() + "\t" + std::to_string(error ? 0 : size) + "\t" +
            (input.listed ? shards::FormatXxh64(input.listed->xxh64) : "-") + "\n";
  }
  return text;
}

// The run's state shared by its phases, on each rank. Every step ends with the ranks agreeing on
// its outcome, so that all go on or all stop together.
class ShuffleRun {
 public:
  // `options` with the memory ceiling and thread count resolved.
  ShuffleRun(const ShuffleOptions& options, std::vector<InputShard> inputs, ShufflePlan plan)
      : options_(options),
        ranks_(options.mpi_job),
        inputs_(std::move(inputs)),
        plan_(plan),
        keys_(options.dedup, options.seed, options.shard_count),
        scratch_(ScratchDirectory(options), DescribeRun(options, inputs_)) {
    summary_.memory_ceiling_mib = options.memory_ceiling_mib;
  }

  util::Result<ShuffleSummary> Run();

 private:
  util::Result<void> Prepare();
  util::Result<void> JoinPreparedRun();
  util::Result<void> SpreadInputs();
  util::Result<void> GatherSpreadFiles();
  util::Result<void> FinishShards();
  util::Result<void> Conclude();
  shards::ShuffleOrigin Origin() const;
  void Count(std::atomic<std::uint64_t> ShuffleProgress::*counter, std::uint64_t count) {
    if (options_.progress != nullptr) options_.progress->Add(options_.progress->*counter, count);
  }

  const ShuffleOptions& options_;
  ShuffleRanks ranks_;
  std::vector<InputShard> inputs_;
  ShufflePlan plan_;
  RecordKeys keys_;
  ShuffleScratch scratch_;
  std::optional<io::RunLocks> locks_;  // the first rank's
  util::Stopwatch clock_;
  ShuffleSummary summary_;
  std::vector<fs::path> spread_paths_;
  std::vector<InputShardDigest> input_digests_;
  std::vector<std::vector<BlockSource>> blocks_;  // per output shard
  std::vector<shards::IndexedShard> outputs_;
  std::vector<std::uint64_t> finished_here_;
};

util::Result<ShuffleSummary> ShuffleRun::Run() {
  util::Result<void> done = ranks_.Agree(Prepare());
  if (done) done = ranks_.Agree(JoinPreparedRun());
  if (done) done = ranks_.Agree(SpreadInputs());
  if (done) done = ranks_.Agree(GatherSpreadFiles());
  if (done) done = ranks_.Agree(FinishShards());
  if (done) {
    summary_.finish_passes = ranks_.CollectShards(finished_here_, summary_.finish_passes, outputs_);
    done = ranks_.Agree(ranks_.IsFirst() ? Conclude() : util::Result<void>());
  }
  if (!done) return std::move(done).TakeError();
  return summary_;
}

// The first rank alone locks, checks the space and clears what an earlier run left.
util::Result<void> ShuffleRun::Prepare() {
  if (!ranks_.IsFirst()) return {};
  const run::LockedPlace scratch{run::LockedPlace::Kind::kDirectory, options_.scratch_directory,
                                 "scratch directory", "Failed to create scratch directory: "};
  util::Result<io::RunLocks> locks = run::AcquireRunLocks(options_.output_directory, {&scratch, 1});
  if (!locks) return std::move(locks).TakeError();
  locks_.emplace(std::move(*locks));
  util::Result<void> prepared = CheckFreeSpace(options_);
  if (prepared) prepared = run::RemoveEarlierRunOutcome(options_.output_directory);
  if (prepared) prepared = scratch_.Prepare(options_.resume);
  return prepared;
}

// Every rank must see the directories the first rank prepared, or its shards and spread files
// would land where the others never look.
util::Result<void> ShuffleRun::JoinPreparedRun() {
  std::error_code error;
  if (!ranks_.IsFirst() && (!scratch_.HoldsThisRun() ||
                            !fs::exists(options_.output_directory / io::kLockFileName, error))) {
    return util::Fail("Rank " + std::to_string(ranks_.rank()) +
                      " does not see the output and scratch directories as rank 0 does: " +
                      options_.output_directory.string());
  }
  return scratch_.OpenFinishedList(ranks_.rank());
}

util::Result<void> ShuffleRun::SpreadInputs() {
  std::vector<const InputShard*> pending;
  for (const InputShard& input : inputs_) {
    if (scratch_.IsSpread(input.sequence)) {
      ++summary_.resumed_input_shards;
      Count(&ShuffleProgress::input_shards_done, 1);
    } else if (ranks_.Owns(input.sequence)) {
      pending.push_back(&input);
    }
  }
  std::vector<std::unique_ptr<InputSpreader>> spreaders(plan_.spread_threads);
  return RunTasksInParallel(
      plan_.spread_threads, pending.size(), [&](std::uint64_t task, std::uint64_t worker) {
        std::unique_ptr<InputSpreader>& spreader = spreaders[worker];
        if (!spreader) {
          spreader = std::make_unique<InputSpreader>(
              keys_, options_.shard_count, plan_.buffer_entries, kScratchCompressionLevel);
          spreader->reader().on_bytes_read = [this](std::uint64_t bytes) {
            Count(&ShuffleProgress::input_bytes_read, bytes);
          };
          spreader->on_records_spread = [this](std::uint64_t records) {
            Count(&ShuffleProgress::input_records, records);
          };
        }
        const InputShard& input = *pending[task];
        util::Result<SpreadSummary> spread =
            spreader->Spread(input, scratch_.SpreadPath(input.sequence));
        if (!spread) return util::Result<void>(std::move(spread).TakeError());
        Count(&ShuffleProgress::input_shards_done, 1);
        return util::Result<void>();
      });
}

util::Result<void> ShuffleRun::GatherSpreadFiles() {
  spread_paths_.reserve(inputs_.size());
  for (const InputShard& input : inputs_)
    spread_paths_.push_back(scratch_.SpreadPath(input.sequence));
  blocks_.assign(options_.shard_count, {});
  for (std::uint64_t at = 0; at < inputs_.size(); ++at) {
    util::Result<SpreadFooter> footer = ReadSpreadFooter(spread_paths_[at]);
    if (!footer) return std::move(footer).TakeError();
    for (const SpreadBlock& block : footer->blocks) {
      if (block.shard >= options_.shard_count) {
        return util::Fail("Scratch file is damaged: " + spread_paths_[at].string());
      }
      blocks_[block.shard].push_back({&spread_paths_[at], block});
    }
    input_digests_.push_back(footer->input);
    summary_.input_records += footer->input.records;
    std::error_code error;
    summary_.scratch_bytes += fs::file_size(spread_paths_[at], error);
  }
  std::uint64_t largest = 0;
  for (const std::vector<BlockSource>& shard : blocks_) {
    std::uint64_t entries = 0;
    for (const BlockSource& source : shard) entries += source.block.entries;
    largest = std::max(largest, entries);
  }
  PlanFinishing(options_, largest, plan_);
  return {};
}

util::Result<void> ShuffleRun::FinishShards() {
  if (options_.progress != nullptr) {
    options_.progress->output_shards_total.store(options_.shard_count);
    options_.progress->phase.store(ShuffleProgress::Phase::kFinishing);
  }
  outputs_.assign(options_.shard_count, {});
  std::vector<std::uint64_t> pending;
  const std::map<std::uint64_t, shards::IndexedShard> finished =
      scratch_.FinishedShards(options_.output_directory, options_.shard_count);
  for (std::uint64_t id = 0; id < options_.shard_count; ++id) {
    const auto found = finished.find(id);
    if (found != finished.end()) {
      outputs_[id] = found->second;
      ++summary_.resumed_output_shards;
      Count(&ShuffleProgress::output_shards_done, 1);
    } else if (ranks_.Owns(id)) {
      pending.push_back(id);
    }
  }
  finished_here_.assign(pending.size(), 0);
  std::vector<std::unique_ptr<ShardFinisher>> finishers(plan_.finish_threads);
  util::Result<void> finished_all = RunTasksInParallel(
      plan_.finish_threads, pending.size(), [&](std::uint64_t task, std::uint64_t worker) {
        std::unique_ptr<ShardFinisher>& finisher = finishers[worker];
        if (!finisher) {
          finisher = std::make_unique<ShardFinisher>(keys_, plan_.capacity_entries,
                                                     options_.compression_level);
        }
        const std::uint64_t id = pending[task];
        util::Result<shards::IndexedShard> shard = finisher->Finish(
            blocks_[id], shards::ShardPath(options_.output_directory, id, options_.shard_count));
        if (!shard) return util::Result<void>(std::move(shard).TakeError());
        outputs_[id] = *shard;
        finished_here_[task] = id;
        Count(&ShuffleProgress::output_shards_done, 1);
        Count(&ShuffleProgress::output_records, shard->records);
        return scratch_.RecordFinishedShard(id, *shard);
      });
  for (const std::unique_ptr<ShardFinisher>& finisher : finishers) {
    if (finisher) summary_.finish_passes += finisher->passes();
  }
  return finished_all;
}

// The first rank, once every shard is written: the index, the scratch, the summary last.
util::Result<void> ShuffleRun::Conclude() {
  const shards::ShuffleOrigin origin = Origin();
  util::Result<void> done = shards::WriteShardIndex(
      options_.output_directory, shards::RoutingKind::kShuffle, outputs_, &origin);
  if (!done) return done;
  for (const shards::IndexedShard& shard : outputs_) summary_.output_records += shard.records;
  summary_.duplicate_records = summary_.input_records - summary_.output_records;
  summary_.output_shard_count = options_.shard_count;
  summary_.seed = options_.seed;
  summary_.dedup = options_.dedup;
  summary_.threads = std::max(plan_.spread_threads, plan_.finish_threads);
  if (!options_.keep_scratch) done = scratch_.Remove();
  summary_.elapsed_seconds = clock_.ElapsedSeconds();
  if (done)
    done = run::WriteRunSummary(options_.output_directory, FormatShuffleRunSummary(summary_));
  return done;
}

shards::ShuffleOrigin ShuffleRun::Origin() const {
  shards::ShuffleOrigin origin{
      .seed = options_.seed, .dedup = std::string(DedupName(options_.dedup)), .inputs = {}};
  std::vector<util::ByteDigest> hashes(options_.input_directories.size());
  for (const fs::path& directory : options_.input_directories) {
    origin.inputs.push_back({.path = directory.string(), .records = 0, .xxh64 = 0});
  }
  for (std::uint64_t at = 0; at < input_digests_.size(); ++at) {
    const std::uint64_t directory = inputs_[at].directory;
    origin.inputs[directory].records += input_digests_[at].records;
    std::uint8_t bytes[8];
    for (unsigned i = 0; i < 8; ++i)
      bytes[i] = static_cast<std::uint8_t>(input_digests_[at].xxh64 >> (8 * i));
    hashes[directory].Add(bytes);
  }
  for (std::uint64_t directory = 0; directory < hashes.size(); ++directory) {
    origin.inputs[directory].xxh64 = hashes[directory].Hash();
  }
  return origin;
}

}  // namespace

util::Result<ShuffleSummary> RunShuffle(const ShuffleOptions& options) {
  // Every rank checks and lists alike, so that all refuse together or go on together.
  const ShuffleRanks ranks(options.mpi_job);
  util::Result<void> checked = CheckOptions(options);
  util::Result<std::vector<InputShard>> inputs =
      checked ? ListInputShards(options.input_directories, options.allow_unfinished)
              : std::move(checked).TakeError();
  // The ceiling and thread count the run goes by, where the options leave them to be decided.
  ShuffleOptions resolved = options;
  resolved.memory_ceiling_mib = run::ResolveMemoryCeilingMib(options.memory_ceiling_mib);
  resolved.max_threads = options.max_threads != 0 ? options.max_threads : util::UsableCpuCount();
  util::Result<ShufflePlan> plan = inputs ? PlanShuffle(resolved, inputs->size())
                                          : util::Result<ShufflePlan>(util::Fail(inputs.error()));
  checked = ranks.Agree(plan ? util::Result<void>() : util::Fail(plan.error()));
  if (!checked) return std::move(checked).TakeError();
  if (options.progress != nullptr) {
    std::uint64_t bytes = 0;
    for (const InputShard& input : *inputs) {
      std::error_code error;
      const std::uintmax_t size = fs::file_size(input.path, error);
      bytes += error ? 0 : size;
    }
    options.progress->input_shards_total.store(inputs->size());
    options.progress->input_bytes_total.store(bytes);
  }
  ShuffleRun run(resolved, std::move(*inputs), *plan);
  return run.Run();
}

}  // namespace boardmill::shuffle
