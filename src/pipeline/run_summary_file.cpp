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
