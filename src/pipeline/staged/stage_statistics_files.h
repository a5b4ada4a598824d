#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "pipeline/stage_stats.h"
#include "pipeline/staged/controller_row.h"
#include "pipeline/staged/pipeline_depths.h"
#include "pipeline/staged/worker_stats.h"
#include "util/result.h"

namespace boardmill::pipeline {

inline constexpr char kStageStatsFileName[] = "stage-stats.tsv";
inline constexpr char kWorkerStatsFileName[] = "worker-stats.tsv";
inline constexpr char kQueueStatsFileName[] = "queue-stats.tsv";
inline constexpr char kControllerStatsFileName[] = "controller-stats.tsv";

struct StageStatsRow {
  std::string_view stage;
  std::uint64_t workers = 0;  // pool size; the shard count for "write"
  StageStatsSnapshot stats;
};

struct WorkerStatsRow {
  std::string_view stage;
  std::uint64_t worker_id = 0;  // the shard for "write"
  WorkerStatsSnapshot stats;
};

// The four statistics files of a staged run: tab-separated, a header line, doubles with six
// decimals. A file that cannot be opened is skipped without a word; one that was written is
// synced to disk, and a failed sync fails.
util::Result<void> WriteStageStatsFile(const std::filesystem::path& path,
                                       std::span<const StageStatsRow> rows);
util::Result<void> WriteWorkerStatsFile(const std::filesystem::path& path,
                                        std::span<const WorkerStatsRow> rows);
util::Result<void> WriteQueueStatsFile(const std::filesystem::path& path,
                                       std::span<const QueueSampleRow> rows);
util::Result<void> WriteControllerStatsFile(const std::filesystem::path& path,
                                            std::span<const ControllerRow> rows);

}  // namespace boardmill::pipeline
