#pragma once

#include <filesystem>
#include <string_view>

#include "util/result.h"

namespace boardmill::run {

inline constexpr char kRunSummaryFileName[] = "run-summary.txt";

// run-summary.txt and shard-index.json tell what a finished run wrote. Every command that writes
// shards removes the ones an earlier run left before it writes a shard, so that a run that then
// fails or is interrupted cannot leave a directory that looks finished, or shards an old index
// describes.
util::Result<void> RemoveEarlierRunOutcome(const std::filesystem::path& directory);

// Writes `text` as run-summary.txt into `directory`, the mark of a finished run, so it comes
// last. The text goes to a side file first and is renamed into place only when complete, so that
// a run killed or out of space while writing it never leaves a torn summary that passes for that
// mark. Every file the directory holds must be on disk before this is called; the directory is
// synced before and after the summary, so the mark is durable and never outlives what it vouches
// for. A file that cannot be opened is skipped silently; one that cannot be written completely
// fails.
util::Result<void> WriteRunSummary(const std::filesystem::path& directory, std::string_view text);

}  // namespace boardmill::run
