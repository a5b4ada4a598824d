#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

#include "chess/fen_reading.h"
#include "io/input_discovery.h"
#include "pipeline/run_progress.h"

namespace boardmill::io {
class MpiJob;
}  // namespace boardmill::io

namespace boardmill::pipeline {

inline constexpr std::uint64_t kGibibyte = std::uint64_t{1} << 30;

enum class ExecutionMode : std::uint8_t { kAuto = 0, kSequential = 1, kParallel = 2, kStaged = 3 };

// "auto", "sequential", "parallel" or "staged"; any value outside the enumeration reads "auto".
constexpr std::string_view ExecutionModeName(ExecutionMode mode) {
  switch (mode) {
    case ExecutionMode::kSequential:
      return "sequential";
    case ExecutionMode::kParallel:
      return "parallel";
    case ExecutionMode::kStaged:
      return "staged";
    default:
      return "auto";
  }
}

// The settings of one convert run, handed by value to the runner of the chosen mode. Where a
// count of 0 has a meaning of its own, the comment says so.
struct ConversionOptions {
  std::filesystem::path input_directory;
  std::filesystem::path output_directory;
  std::uint64_t max_threads = 0;  // 0: no explicit cap
  std::uint64_t output_shard_count = 256;
  std::int32_t compression_level = 8;
  std::uint64_t records_per_flush = 4096;
  std::uint64_t reader_workers = 0;  // staged stage sizes; 0: chosen by the staged runner
  std::uint64_t decompress_workers = 0;
  std::uint64_t line_index_workers = 0;
  std::uint64_t parse_workers = 0;
  std::uint64_t compress_workers = 0;
  std::uint64_t max_input_files = 0;     // 0: all files
  std::uint64_t max_lines_per_file = 0;  // 0: all lines
  std::uint64_t line_batch_size = 0;     // 0: the mode's default
  std::uint64_t parse_batch_size = 0;    // 0: the resolved line batch size
  std::uint64_t memory_ceiling_mib = 0;  // 0: half of the memory the process may use
  std::uint64_t initial_workers = 0;
  std::uint64_t min_workers = 1;
  std::uint64_t merge_threads = 0;  // 0: chosen by the parallel runner
  std::uint64_t min_free_space_bytes = 10 * kGibibyte;
  double tuning_interval_seconds = 1.0;
  bool enable_fast_encoder = true;
  bool enable_autotune = false;
  bool verify_output = false;
  bool resume = false;
  bool keep_scratch = false;
  bool precreate_shards = true;
  ExecutionMode execution_mode = ExecutionMode::kAuto;
  chess::FenReading fen_reading = chess::FenReading::kStrict;  // --lenient-fen
  bool recursive_input = false;                                // --recursive
  std::filesystem::path scratch_directory;  // empty: the parallel runner's default
  std::filesystem::path manifest_path;      // empty: the runner's default
  std::filesystem::path reject_log_path;    // empty: the runner's default
  // Not an option: counters a status line reads while the run goes on; null when nobody
  // watches. Not owned.
  RunProgress* progress = nullptr;
  // Not an option: the MPI job this process runs in, null for a plain run. Not owned.
  const io::MpiJob* mpi_job = nullptr;
};

// Where the run looks for input files: the whole tree with --recursive, and .epd.zst files too
// under the lenient reading, which is the one that reads EPD lines.
inline io::InputDiscovery InputDiscoveryOf(const ConversionOptions& options) {
  return {.recursive = options.recursive_input,
          .include_epd = options.fen_reading == chess::FenReading::kLenient};
}

}  // namespace boardmill::pipeline
