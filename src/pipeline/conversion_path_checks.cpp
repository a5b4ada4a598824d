#include "pipeline/conversion_path_checks.h"

#include <string>
#include <vector>

#include "io/output_path_checks.h"
#include "io/run_locks.h"
#include "pipeline/parallel/run_paths.h"
#include "pipeline/run_summary_file.h"
#include "pipeline/staged/stage_statistics_files.h"
#include "run/run_outcome_files.h"
#include "run/unfinished_run.h"
#include "shards/shard_index.h"
#include "shards/shard_naming.h"

namespace boardmill::pipeline {

namespace {

// Every entry a run of any mode may write directly in its output directory.
std::vector<std::string> OwnOutputNames(const ConversionOptions& options) {
  std::vector<std::string> names = {
      shards::kShardIndexFileName,
      run::kRunSummaryFileName,
      kRejectLogFileName,
      run::kDefaultManifestFileName,
      run::kDefaultScratchDirectoryName,
      io::kLockFileName,
      kStageStatsFileName,
      kWorkerStatsFileName,
      kQueueStatsFileName,
      kControllerStatsFileName,
  };
  for (std::uint64_t shard = 0; shard < options.output_shard_count; ++shard) {
    names.push_back(shards::ShardFileName(shard, options.output_shard_count));
  }
  return names;
}

}  // namespace

util::Result<void> CheckConversionPaths(const ConversionOptions& options,
                                        std::span<const std::filesystem::path> input_files) {
  io::OutputPathLayout layout;
  layout.input_directory = options.input_directory;
  layout.input_files = input_files;
  layout.output_directory = options.output_directory;
  layout.own_names = OwnOutputNames(options);
  layout.chosen = {
      {"--reject-log", options.reject_log_path, kRejectLogFileName},
      {"--manifest", options.manifest_path, run::kDefaultManifestFileName},
      {"--scratch-dir", options.scratch_directory, run::kDefaultScratchDirectoryName},
  };
  return io::CheckOutputPaths(layout);
}

}  // namespace boardmill::pipeline
