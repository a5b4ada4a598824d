#include "pipeline/run_summary_file.h"

#include <fstream>

#include "util/number_format.h"

namespace boardmill::pipeline {

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

void RunSummaryFile::AddLine(std::string_view key, std::string_view value) {
  text_.append(key).append("=").append(value).append("\n");
}

void RunSummaryFile::WriteInto(const std::filesystem::path& directory) const {
  std::ofstream file(directory / kRunSummaryFileName, std::ios::trunc);
  if (file) file << text_;
}

}  // namespace boardmill::pipeline
