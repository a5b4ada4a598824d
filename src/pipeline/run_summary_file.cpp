#include "pipeline/run_summary_file.h"

#include "run/run_outcome_files.h"
#include "util/number_format.h"

namespace boardmill::pipeline {

namespace fs = std::filesystem;

void RunSummaryFile::Add(std::string_view key, std::uint64_t value) {
  AddLine(key, std::to_string(value));
}

void RunSummaryFile::Add(std::string_view key, std::int32_t value) {
  AddLine(key, std::to_string(value));
}

void RunSummaryFile::Add(std::string_view key, double value) {
  AddLine(key, util::FormatFixed(value, decimals_));
}

void RunSummaryFile::Add(std::string_view key, std::string_view text) { AddLine(key, text); }

void RunSummaryFile::AddRunStart(std::string_view mode, const ConversionOptions& options) {
  Add("execution_mode", mode);
  Add("input_directory", options.input_directory);
  Add("output_directory", options.output_directory);
}

void RunSummaryFile::AddShardSettings(const ConversionOptions& options) {
  Add("output_shard_count", options.output_shard_count);
  Add("compression_level", options.compression_level);
  Add("records_per_flush", options.records_per_flush);
}

void RunSummaryFile::AddWorkerCaps(const ConversionSummary& summary) {
  Add("requested_worker_cap", summary.requested_worker_cap);
  Add("pending_file_cap", summary.pending_file_cap);
  Add("effective_max_workers", summary.effective_max_workers);
}

void RunSummaryFile::AddLineCounts(const ConversionSummary& summary) {
  ForEachField(TotalsGroup::kLineCounts, summary, AddFieldLine());
}

void RunSummaryFile::AddVolumesAndTimes(const ConversionSummary& summary) {
  ForEachField(TotalsGroup::kVolumes, summary, AddFieldLine());
  Add("elapsed_seconds", summary.elapsed_seconds);
  ForEachField(TotalsGroup::kSeconds, summary, AddFieldLine());
}

void RunSummaryFile::AddFinalKnobs(const ConversionSummary& summary) {
  Add("final_active_workers", summary.final_active_workers);
  Add("final_line_batch_size", summary.final_line_batch_size);
  if (summary.execution_mode == ExecutionMode::kStaged) {
    Add("final_parse_batch_size", summary.final_parse_batch_size);
  }
  Add("final_records_per_flush", summary.final_records_per_flush);
  Add("final_compression_level", summary.final_compression_level);
}

void RunSummaryFile::AddReadingCounts(const ConversionSummary& summary) {
  if (summary.fen_reading == chess::FenReading::kLenient) {
    ForEachField(TotalsGroup::kReading, summary, AddFieldLine());
  }
}

void RunSummaryFile::AddLine(std::string_view key, std::string_view value) {
  text_.append(key).append("=").append(value).append("\n");
}

void RunSummaryFile::AddClosingFigures(const ConversionSummary& summary) {
  if (summary.elapsed_seconds > 0) {
    Add("effective_fens_per_second",
        static_cast<double>(summary.encoded_positions) / summary.elapsed_seconds);
  }
  Add("memory_ceiling_mib", summary.memory_ceiling_mib);
  if (summary.execution_mode == ExecutionMode::kParallel) {
    Add("memory_worker_cap", summary.memory_worker_cap);
  }
  Add("usable_cpus", summary.usable_cpus);
  if (summary.resumed) {
    Add("redone_input_files", summary.redone_input_files);
    Add("output_records", summary.output_records);
  }
}

util::Result<void> RunSummaryFile::WriteInto(const fs::path& directory) const {
  return run::WriteRunSummary(directory, text_);
}

}  // namespace boardmill::pipeline
