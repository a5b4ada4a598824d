#include "pipeline/staged/staged_pipeline_runner.h"

#include <string>
#include <vector>

#include "io/input_discovery.h"
#include "pipeline/conversion_locks.h"
#include "pipeline/conversion_path_checks.h"
#include "pipeline/index_and_verify_shards.h"
#include "pipeline/option_limits.h"
#include "pipeline/run_summary_file.h"
#include "pipeline/staged/stage_statistics_files.h"
#include "pipeline/staged/staged_memory_plan.h"
#include "pipeline/staged/staged_pipeline.h"
#include "pipeline/staged/staged_pipeline_threads.h"
#include "run/memory_ceiling.h"
#include "run/run_outcome_files.h"
#include "util/usable_cpus.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

struct StagedPaths {
  fs::path reject_log;
  fs::path stage_stats;
  fs::path worker_stats;
  fs::path queue_stats;
  fs::path controller_stats;
};

StagedPaths PathsFor(const ConversionOptions& options) {
  const fs::path& output = options.output_directory;
  StagedPaths paths;
  paths.reject_log =
      options.reject_log_path.empty() ? output / "rejects.tsv" : options.reject_log_path;
  paths.stage_stats = output / kStageStatsFileName;
  paths.worker_stats = output / kWorkerStatsFileName;
  paths.queue_stats = output / kQueueStatsFileName;
  paths.controller_stats = output / kControllerStatsFileName;
  return paths;
}

util::Result<void> WriteStatisticsFiles(StagedPipeline& pipeline, const StagedPaths& paths) {
  std::vector<StageStatsRow> stage_rows;
  std::vector<WorkerStatsRow> worker_rows;
  for (const PipelineStage stage : kPipelineStages) {
    const std::vector<WorkerStats>& workers = pipeline.worker_stats[StageIndex(stage)];
    stage_rows.push_back({StageName(stage), workers.size(), pipeline.Stats(stage).Snapshot()});
    for (std::uint64_t index = 0; index < workers.size(); ++index) {
      worker_rows.push_back({StageName(stage), index, workers[index].Snapshot()});
    }
  }
  util::Result<void> written = WriteStageStatsFile(paths.stage_stats, stage_rows);
  if (written) written = WriteWorkerStatsFile(paths.worker_stats, worker_rows);
  if (written) written = WriteQueueStatsFile(paths.queue_stats, pipeline.queue_rows);
  if (written) {
    written = WriteControllerStatsFile(paths.controller_stats, pipeline.controller_rows);
  }
  return written;
}

ConversionSummary AssembleSummary(const StagedPipeline& pipeline, const StagedPaths& paths,
                                  double elapsed_seconds) {
  const ConversionOptions& options = pipeline.options;
  const ElasticCounts active = pipeline.ActiveCounts();
  const std::uint64_t file_count = pipeline.files.size();
  ConversionSummary summary;
  static_cast<ConversionTotals&>(summary) = pipeline.totals.Read();
  summary.execution_mode = ExecutionMode::kStaged;
  summary.fen_reading = options.fen_reading;
  summary.input_file_count = file_count;
  summary.completed_input_files = file_count;
  summary.output_file_count = pipeline.shard_count;
  summary.reject_log_entries = pipeline.rejects.EntryCount();
  summary.requested_worker_cap = pipeline.plan.thread_budget;
  summary.effective_max_workers = pipeline.plan.thread_budget;
  summary.pending_file_cap = file_count;
  summary.final_active_workers = 0;
  for (const std::uint64_t count : active) summary.final_active_workers += count;
  summary.reader_worker_count = active[StageIndex(PipelineStage::kReader)];
  summary.decompress_worker_count = active[StageIndex(PipelineStage::kDecompress)];
  summary.line_index_worker_count = active[StageIndex(PipelineStage::kLineIndex)];
  summary.parse_worker_count = active[StageIndex(PipelineStage::kParse)];
  summary.compress_worker_count = active[StageIndex(PipelineStage::kCompress)];
  summary.writer_worker_count = pipeline.shard_count;
  summary.final_line_batch_size = options.line_batch_size;
  summary.final_parse_batch_size = pipeline.memory.parse_batch_lines;
  summary.final_records_per_flush = options.records_per_flush;
  summary.final_compression_level = options.compression_level;
  summary.elapsed_seconds = elapsed_seconds;
  summary.merge_seconds = 0.0;
  summary.reject_log_path = paths.reject_log;
  summary.stage_stats_path = paths.stage_stats;
  summary.worker_stats_path = paths.worker_stats;
  summary.queue_stats_path = paths.queue_stats;
  summary.controller_stats_path = paths.controller_stats;
  return summary;
}

StagedMemoryInputs MemoryInputs(const ConversionOptions& options, const StagePlan& plan) {
  StagedMemoryInputs inputs;
  inputs.pool_sizes = plan.pool_sizes;
  inputs.shard_count = options.output_shard_count;
  inputs.parse_batch_lines = options.parse_batch_size;
  inputs.compression_level = options.compression_level;
  return inputs;
}

}  // namespace

util::Result<ConversionSummary> StagedPipelineRunner::Run() const {
  if (options_.resume) return util::Fail("Staged mode does not support resume yet.");
  util::Result<void> limits = CheckOptionLimits(options_);
  if (!limits) return std::move(limits).TakeError();

  util::Result<std::vector<fs::path>> files = io::ListFenFiles(
      options_.input_directory, options_.max_input_files, InputDiscoveryOf(options_));
  if (!files) return std::move(files).TakeError();
  util::Result<void> checked = CheckConversionPaths(options_, *files);
  if (!checked) return std::move(checked).TakeError();
  const std::uint64_t usable_cpus = util::UsableCpuCount();
  const StagePlan plan = PlanStages(options_, files->size(), usable_cpus);
  const std::uint64_t ceiling_mib = run::ResolveMemoryCeilingMib(options_.memory_ceiling_mib);
  util::Result<StagedMemoryPlan> memory =
      PlanStagedMemory(MemoryInputs(options_, plan), ceiling_mib);
  if (!memory) return std::move(memory).TakeError();
  if (options_.progress != nullptr) options_.progress->SetInput(*files);

  util::Result<io::RunLocks> locks = AcquireRunLocks(options_, ExecutionMode::kStaged);
  if (!locks) return std::move(locks).TakeError();
  util::Result<void> removed = run::RemoveEarlierRunOutcome(options_.output_directory);
  if (!removed) return std::move(removed).TakeError();

  const StagedPaths paths = PathsFor(options_);
  RejectLogger rejects(paths.reject_log);
  util::Result<std::uint64_t> opened = rejects.Open();
  if (!opened) return std::move(opened).TakeError();

  StagedPipeline pipeline(options_, std::move(*files), plan, *memory, rejects);
  RunStagedPipelineThreads(pipeline);
  const double elapsed_seconds = pipeline.ElapsedSeconds();

  util::Result<std::uint64_t> closed = rejects.Close();
  if (std::optional<std::string> failure = pipeline.failure.message()) {
    return util::Fail(std::move(*failure));
  }
  if (!closed) return std::move(closed).TakeError();

  util::Result<void> indexed = IndexAndVerifyShards(options_, pipeline.written_shards);
  if (!indexed) return std::move(indexed).TakeError();
  util::Result<void> statistics = WriteStatisticsFiles(pipeline, paths);
  if (!statistics) return std::move(statistics).TakeError();
  ConversionSummary summary = AssembleSummary(pipeline, paths, elapsed_seconds);
  summary.memory_ceiling_mib = ceiling_mib;
  summary.usable_cpus = usable_cpus;
  util::Result<void> written = WriteStagedRunSummary(options_, summary);
  if (!written) return std::move(written).TakeError();
  return summary;
}

util::Result<void> WriteStagedRunSummary(const ConversionOptions& options,
                                         const ConversionSummary& summary) {
  RunSummaryFile file(6);
  file.AddRunStart("staged", options);
  file.AddShardSettings(options);
  file.Add("reader_worker_count", summary.reader_worker_count);
  file.Add("decompress_worker_count", summary.decompress_worker_count);
  file.Add("line_index_worker_count", summary.line_index_worker_count);
  file.Add("parse_worker_count", summary.parse_worker_count);
  file.Add("compress_worker_count", summary.compress_worker_count);
  file.Add("writer_worker_count", summary.writer_worker_count);
  file.Add("line_batch_size", options.line_batch_size);
  file.Add("parse_batch_size", summary.final_parse_batch_size);
  file.Add("input_file_count", summary.input_file_count);
  file.Add("output_file_count", summary.output_file_count);
  file.AddLineCounts(summary);
  file.Add("reject_log_entries", summary.reject_log_entries);
  file.AddWorkerCaps(summary);
  file.AddVolumesAndTimes(summary);
  file.Add("merge_seconds", summary.merge_seconds);
  file.AddFinalKnobs(summary);
  file.Add("reject_log_path", summary.reject_log_path);
  file.Add("stage_stats_path", summary.stage_stats_path);
  file.Add("worker_stats_path", summary.worker_stats_path);
  file.Add("queue_stats_path", summary.queue_stats_path);
  file.Add("controller_stats_path", summary.controller_stats_path);
  file.AddClosingFigures(summary);
  file.AddReadingCounts(summary);
  return file.WriteInto(options.output_directory);
}

}  // namespace boardmill::pipeline
