#include "pipeline/parallel/run_finisher.h"

#include <optional>
#include <system_error>

#include "pipeline/index_and_verify_shards.h"
#include "pipeline/parallel/fragment_file.h"
#include "pipeline/parallel/worker_caps.h"
#include "pipeline/run_summary_file.h"
#include "shards/shard_router.h"
#include "util/usable_cpus.h"

namespace boardmill::pipeline {

util::Result<std::vector<FragmentSource>> FragmentsInFileOrder(
    const std::filesystem::path& fragments_root, const std::vector<FileGroup>& groups) {
  std::vector<FragmentSource> sources;
  sources.reserve(groups.size());
  for (const FileGroup& group : groups) {
    const std::filesystem::path path = FragmentPath(fragments_root, group);
    util::Result<FragmentIndex> index = ReadFragmentIndex(path);
    if (!index) return std::move(index).TakeError();
    sources.push_back({path, std::move(*index)});
  }
  return sources;
}

util::Result<ShardMergeSummary> MergeFragments(const ConversionOptions& options,
                                               std::uint64_t max_workers,
                                               const std::vector<FragmentSource>& fragments,
                                               ShardSubset subset) {
  const ShardMerger merger(options.output_directory, options.precreate_shards,
                           MergeThreadCount(options, max_workers),
                           shards::ShardRouter(options.output_shard_count), options.progress);
  return merger.Merge(fragments, subset);
}

util::Result<ConversionSummary> RunFinisher::Finish(const std::vector<FragmentSource>& fragments,
                                                    util::Result<ShardMergeSummary> merged,
                                                    const WorkerKnobs& final_knobs,
                                                    const RankCaps& other_ranks) {
  if (!merged) return CloseRejectLogAndFail(merged.error());
  util::Result<void> collected = CollectRejects(fragments);
  if (!collected) return CloseRejectLogAndFail(collected.error());
  util::Result<void> indexed = IndexAndVerifyShards(options_, merged->shards);
  if (!indexed) return CloseRejectLogAndFail(indexed.error());
  ConversionSummary summary = AssembleSummary(*merged, final_knobs, other_ranks);

  RejectLogger& reject_log = run_.records().reject_log();
  util::Result<std::uint64_t> closed = reject_log.Close();
  if (!closed) return std::move(closed).TakeError();
  summary.reject_log_entries = reject_log.EntryCount();
  summary.elapsed_seconds = run_clock_.ElapsedSeconds();
  util::Result<void> finished = run_.records().manifest().WriteFinish(summary, "success");
  if (!finished) return std::move(finished).TakeError();
  util::Result<void> written = WriteParallelRunSummary(options_, summary);
  if (!written) return std::move(written).TakeError();
  if (!options_.keep_scratch) {
    std::error_code ignored;
    std::filesystem::remove_all(paths_.fragments_root, ignored);
  }
  return summary;
}

util::Error RunFinisher::FailAfterWorkers() {
  const util::Result<std::uint64_t> closed = run_.records().reject_log().Close();
  if (std::optional<std::string> message = run_.records().failure_message();
      message && !message->empty()) {
    return util::Fail(*message);
  }
  if (!closed) return util::Fail(closed.error());
  return util::Fail("Parallel conversion failed.");
}

util::Error RunFinisher::CloseRejectLogAndFail(const std::string& message) {
  (void)run_.records().reject_log().Close();
  return util::Fail(message);
}

// rejects.tsv receives every group's rows in file order, kept groups' included.
util::Result<void> RunFinisher::CollectRejects(const std::vector<FragmentSource>& fragments) {
  for (const FragmentSource& fragment : fragments) {
    util::Result<std::uint64_t> appended = run_.records().reject_log().AppendRowsOf(
        RejectPartPath(fragment.path), fragment.index.reject_rows);
    if (!appended) return std::move(appended).TakeError();
  }
  return {};
}

// Counts of workers are summed over the ranks of an MPI job; the knobs are this process's.
ConversionSummary RunFinisher::AssembleSummary(const ShardMergeSummary& merged,
                                               const WorkerKnobs& final_knobs,
                                               const RankCaps& other_ranks) const {
  const WorkerPlan& workers = run_.workers();
  ConversionSummary summary;
  summary.execution_mode = ExecutionMode::kParallel;
  summary.fen_reading = options_.fen_reading;
  summary.input_file_count = run_.files().size();
  summary.completed_input_files = run_.files().size();
  summary.skipped_input_files = run_.skipped_files();
  summary.output_file_count = merged.output_files;
  for (const FileProcessingSummary& file : run_.records().summaries()) {
    if (!file.skipped) summary += file;
  }
  summary.compressed_output_bytes = merged.merged_bytes;
  summary.write_seconds += merged.write_seconds;
  summary.merge_seconds = merged.merge_seconds;
  summary.requested_worker_cap =
      workers.caps.requested_worker_cap + other_ranks.requested_worker_cap;
  summary.pending_file_cap = workers.caps.pending_file_cap;
  summary.effective_max_workers =
      workers.caps.effective_max_workers + other_ranks.effective_max_workers;
  summary.stdio_worker_cap = workers.caps.stdio_worker_cap + other_ranks.stdio_worker_cap;
  summary.final_active_workers = final_knobs.active_workers + other_ranks.final_active_workers;
  summary.reader_worker_count = summary.final_active_workers;
  summary.final_line_batch_size = final_knobs.line_batch_size;
  summary.final_records_per_flush = final_knobs.records_per_flush;
  summary.final_compression_level = final_knobs.compression_level;
  summary.scratch_directory = paths_.scratch;
  summary.manifest_path = paths_.manifest;
  summary.reject_log_path = paths_.reject_log;
  summary.memory_ceiling_mib = ceiling_mib_;
  summary.usable_cpus = util::UsableCpuCount();
  summary.memory_worker_cap = workers.memory.memory_worker_cap + other_ranks.memory_worker_cap;
  summary.resumed = options_.resume;
  summary.redone_input_files = run_.redone_files();
  for (const shards::IndexedShard& shard : merged.shards) summary.output_records += shard.records;
  return summary;
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
  file.AddFinalKnobs(summary);
  file.Add("manifest_path", summary.manifest_path);
  file.Add("reject_log_path", summary.reject_log_path);
  file.AddClosingFigures(summary);
  file.AddReadingCounts(summary);
  return file.WriteInto(options.output_directory);
}

}  // namespace boardmill::pipeline
