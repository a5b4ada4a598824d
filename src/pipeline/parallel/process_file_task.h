#pragma once

#include <cstdint>
#include <filesystem>

#include "pipeline/conversion_options.h"
#include "pipeline/parallel/file_processing_summary.h"
#include "pipeline/parallel/worker_knobs.h"
#include "pipeline/reject_logger.h"
#include "pipeline/shard_router.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Converts one input file into its own fragment directory: one Zstandard frame per shard that
// received records of this file. Invalid lines are counted and written to the reject log.
util::Result<FileProcessingSummary> ProcessFileTask(
    std::uint64_t file_index, const std::filesystem::path& input_path,
    const std::filesystem::path& fragment_directory, const ConversionOptions& options,
    const WorkerKnobs& knobs, RejectLogger& reject_log, const ShardRouter& router);

}  // namespace boardmill::pipeline
