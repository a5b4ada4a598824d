#pragma once

#include <string>
#include <vector>

#include "pipeline/conversion_options.h"

namespace boardmill::testing {

// A key of the run summary that the parallel and staged modes write, and the one mode that alone
// writes it (kAuto: both do).
struct PooledSummaryKey {
  const char* key;
  pipeline::ExecutionMode only = pipeline::ExecutionMode::kAuto;
};

inline constexpr pipeline::ExecutionMode kParallelOnly = pipeline::ExecutionMode::kParallel;
inline constexpr pipeline::ExecutionMode kStagedOnly = pipeline::ExecutionMode::kStaged;

// The keys of both modes' run summaries in one list, in the order the file holds them, so that
// where the two modes differ shows at a glance.
inline constexpr PooledSummaryKey kPooledSummaryKeys[] = {
    {"execution_mode"},
    {"input_directory"},
    {"output_directory"},
    {"scratch_directory", kParallelOnly},
    {"output_shard_count"},
    {"compression_level"},
    {"records_per_flush"},
    {"reader_worker_count", kStagedOnly},
    {"decompress_worker_count", kStagedOnly},
    {"line_index_worker_count", kStagedOnly},
    {"parse_worker_count", kStagedOnly},
    {"compress_worker_count", kStagedOnly},
    {"writer_worker_count", kStagedOnly},
    {"line_batch_size"},
    {"parse_batch_size", kStagedOnly},
    {"input_file_count"},
    {"completed_input_files", kParallelOnly},
    {"skipped_input_files", kParallelOnly},
    {"output_file_count"},
    {"visited_lines"},
    {"encoded_positions"},
    {"invalid_positions"},
    {"reject_log_entries"},
    {"requested_worker_cap"},
    {"pending_file_cap"},
    {"effective_max_workers"},
    {"stdio_worker_cap", kParallelOnly},
    {"compressed_input_bytes"},
    {"decompressed_input_bytes"},
    {"raw_output_bytes"},
    {"compressed_output_bytes"},
    {"elapsed_seconds"},
    {"read_seconds"},
    {"decompress_seconds"},
    {"split_seconds"},
    {"encode_seconds"},
    {"compress_seconds"},
    {"write_seconds"},
    {"merge_seconds"},
    {"final_active_workers"},
    {"final_line_batch_size"},
    {"final_parse_batch_size", kStagedOnly},
    {"final_records_per_flush"},
    {"final_compression_level"},
    {"manifest_path", kParallelOnly},
    {"reject_log_path"},
    {"stage_stats_path", kStagedOnly},
    {"worker_stats_path", kStagedOnly},
    {"queue_stats_path", kStagedOnly},
    {"controller_stats_path", kStagedOnly},
    {"effective_fens_per_second"},
    {"memory_ceiling_mib"},
    {"memory_worker_cap", kParallelOnly},
    {"usable_cpus"},
};

// The keys a run summary of `mode` (parallel or staged) lists, in order.
inline std::vector<std::string> PooledSummaryKeys(pipeline::ExecutionMode mode) {
  std::vector<std::string> keys;
  for (const PooledSummaryKey& entry : kPooledSummaryKeys) {
    if (entry.only == pipeline::ExecutionMode::kAuto || entry.only == mode) {
      keys.push_back(entry.key);
    }
  }
  return keys;
}

}  // namespace boardmill::testing
