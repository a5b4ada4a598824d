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
  Add("visited_lines", summary.visited_lines);
  Add("encoded_positions", summary.encoded_positions);
  Add("invalid_positions", summary.invalid_positions);
}

void RunSummaryFile::AddVolumesAndTimes(const ConversionSummary& summary) {
  Add("compressed_input_bytes", summary.compressed_input_bytes);
  Add("decompressed_input_bytes", summary.decompressed_input_bytes);
  Add("raw_output_bytes", summary.raw_output_bytes);
  Add("compressed_output_bytes", summary.compressed_output_bytes);
  Add("elapsed_seconds", summary.elapsed_seconds);
  Add("read_seconds", summary.read_seconds);
  Add("decompress_seconds", summary.decompress_seconds);
  Add("split_seconds", summary.split_seconds);
  Add("encode_seconds", summary.encode_seconds);
  Add("compress_seconds", summary.compress_seconds);
  Add("write_seconds", summary.write_seconds);
}

void RunSummaryFile::AddEffectiveRate(const ConversionSummary& summary) {
  if (summary.elapsed_seconds > 0) {
    Add("effective_fens_per_second",
        static_cast<double>(summary.encoded_positions) / summary.elapsed_seconds);
  }
}

void RunSummaryFile::AddMemoryCeiling(const ConversionSummary& summary) {
  Add("memory_ceiling_mib", summary.memory_ceiling_mib);
  if (summary.execution_mode == ExecutionMode::kParallel) {
    Add("memory_worker_cap", summary.memory_worker_cap);
  }
}

void RunSummaryFile::AddLine(std::string_view key, std::string_view value) {
  text_.append(key).append("=").append(value).append("\n");
}

util::Result<void> RunSummaryFile::WriteInto(const fs::path& directory) const {
  return run::WriteRunSummary(directory, text_);
}

}  // namespace boardmill::pipeline
