#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "util/result.h"

namespace boardmill::pipeline {

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
  // execution_mode (the mode's name), input_directory and output_directory.
  void AddRunStart(std::string_view mode, const ConversionOptions& options);
  // output_shard_count, compression_level and records_per_flush, as the options give them.
  void AddShardSettings(const ConversionOptions& options);
  // requested_worker_cap, pending_file_cap and effective_max_workers.
  void AddWorkerCaps(const ConversionSummary& summary);
  // The line counts of kTotalsFields: visited_lines, encoded_positions and invalid_positions.
  void AddLineCounts(const ConversionSummary& summary);
  // The byte totals and timings every mode reports in this order: the volumes of kTotalsFields
  // (compressed_input_bytes through compressed_output_bytes), elapsed_seconds, then their seconds
  // (read_seconds through write_seconds).
  void AddVolumesAndTimes(const ConversionSummary& summary);
  // The knobs a run ended with: final_active_workers, final_line_batch_size, in staged mode
  // final_parse_batch_size, then final_records_per_flush and final_compression_level.
  void AddFinalKnobs(const ConversionSummary& summary);

  // The keys every mode ends with: effective_fens_per_second (only when the run took measurable
  // time), memory_ceiling_mib (in parallel mode followed by memory_worker_cap) and usable_cpus;
  // a resumed run adds redone_input_files and output_records, the output as a whole.
  void AddClosingFigures(const ConversionSummary& summary);
  // lenient_positions, after every other key, and only under the lenient reading: a strict run's
  // file stays as it always was.
  void AddReadingCounts(const ConversionSummary& summary);

  // Writes run-summary.txt into `directory` through run::WriteRunSummary.
  util::Result<void> WriteInto(const std::filesystem::path& directory) const;

 private:
  // Adds a field of kTotalsFields under its key.
  auto AddFieldLine() {
    return [this](const TotalsField& field, auto value) { Add(field.key, value); };
  }
  void AddLine(std::string_view key, std::string_view value);

  int decimals_;
  std::string text_;
};

}  // namespace boardmill::pipeline
