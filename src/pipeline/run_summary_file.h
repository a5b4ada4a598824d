#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "pipeline/conversion_summary.h"

namespace boardmill::pipeline {

inline constexpr char kRunSummaryFileName[] = "run-summary.txt";

// Builds run-summary.txt: one "key=value" line per entry, in the order added, with every
// floating-point value in fixed notation with the file's number of decimals.
class RunSummaryFile {
 public:
  explicit RunSummaryFile(int decimals) : decimals_(decimals) {}

  void Add(std::string_view key, std::uint64_t value);
  void Add(std::string_view key, std::int32_t value);
  void Add(std::string_view key, double value);
  void Add(std::string_view key, std::string_view text);
  void Add(std::string_view key, const std::filesystem::path& path) { AddLine(key, path.string()); }
  // visited_lines, encoded_positions and invalid_positions.
  void AddLineCounts(const ConversionSummary& summary);
  // The byte totals and timings every mode reports in this order: compressed_input_bytes through
  // compressed_output_bytes, then elapsed_seconds through write_seconds.
  void AddVolumesAndTimes(const ConversionSummary& summary);
  // effective_fens_per_second, present only when the run took measurable time.
  void AddEffectiveRate(const ConversionSummary& summary);

  // Writes run-summary.txt into `directory`; a file that cannot be opened is skipped silently.
  void WriteInto(const std::filesystem::path& directory) const;

 private:
  void AddLine(std::string_view key, std::string_view value);

  int decimals_;
  std::string text_;
};

}  // namespace boardmill::pipeline
