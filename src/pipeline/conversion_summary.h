#pragma once

#include <cstdint>
#include <filesystem>

#include "chess/fen_reading.h"
#include "pipeline/conversion_options.h"
#include "pipeline/conversion_totals.h"
#include "pipeline/sequential/sequential_writer_plan.h"

namespace boardmill::pipeline {

// The counters, timings and paths a runner returns. Every runner fills the fields its mode
// knows; the others keep the zero they start with.
struct ConversionSummary : ConversionTotals {
  ExecutionMode execution_mode = ExecutionMode::kAuto;
  chess::FenReading fen_reading = chess::FenReading::kStrict;  // the run's, for what it reports
  std::uint64_t input_file_count = 0;
  std::uint64_t completed_input_files = 0;
  std::uint64_t skipped_input_files = 0;
  std::uint64_t output_file_count = 0;
  std::uint64_t reject_log_entries = 0;
  std::uint64_t requested_worker_cap = 0;
  std::uint64_t pending_file_cap = 0;
  std::uint64_t effective_max_workers = 0;
  std::uint64_t stdio_worker_cap = 0;
  std::uint64_t final_active_workers = 0;
  std::uint64_t reader_worker_count = 0;
  std::uint64_t decompress_worker_count = 0;
  std::uint64_t line_index_worker_count = 0;
  std::uint64_t parse_worker_count = 0;
  std::uint64_t compress_worker_count = 0;
  std::uint64_t writer_worker_count = 0;
  std::uint64_t final_line_batch_size = 0;
  std::uint64_t final_parse_batch_size = 0;
  std::uint64_t final_records_per_flush = 0;
  std::int32_t final_compression_level = 0;
  double elapsed_seconds = 0.0;
  double merge_seconds = 0.0;
  std::uint64_t memory_ceiling_mib = 0;  // the ceiling the run kept to
  std::uint64_t memory_worker_cap = 0;   // parallel: the workers that fit under the ceiling
  std::uint64_t usable_cpus = 0;         // what the default thread counts followed
  SequentialWriter sequential_writer =
      SequentialWriter::kStreams;  // sequential: how shards were written
  // A resumed parallel run: the counters above cover only what this run converted, these the
  // output as a whole.
  bool resumed = false;
  std::uint64_t redone_input_files = 0;  // files converted again because they changed
  std::uint64_t output_records = 0;      // the records the shards hold
  std::filesystem::path scratch_directory;
  std::filesystem::path manifest_path;
  std::filesystem::path reject_log_path;
  std::filesystem::path stage_stats_path;
  std::filesystem::path worker_stats_path;
  std::filesystem::path queue_stats_path;
  std::filesystem::path controller_stats_path;
};

}  // namespace boardmill::pipeline
