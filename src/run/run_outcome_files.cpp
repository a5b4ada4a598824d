#include "run/run_outcome_files.h"

#include "shards/shard_index.h"
#include "util/file_sync.h"
#include "util/whole_file.h"

namespace boardmill::run {

namespace {

namespace fs = std::filesystem;

util::Result<void> RemoveStaleRunSummary(const fs::path& directory) {
  const fs::path path = directory / kRunSummaryFileName;
  // A missing summary is left alone: a run on a read-only file system should fail later, with the
  // write that names the real problem.
  if (!util::RemoveFileIfPresent(path)) {
    return util::Fail("Failed to remove the run summary of an earlier run: " + path.string());
  }
  return {};
}

}  // namespace

util::Result<void> RemoveEarlierRunOutcome(const fs::path& directory) {
  util::Result<void> removed = RemoveStaleRunSummary(directory);
  if (removed) removed = shards::RemoveStaleShardIndex(directory);
  // The removals reach the disk before the first shard is touched: a machine that stops during
  // the run must not bring the earlier summary back beside half-written shards.
  if (removed && fs::is_directory(directory)) removed = util::SyncDirectory(directory);
  return removed;
}

util::Result<void> WriteRunSummary(const fs::path& directory, std::string_view text) {
  const fs::path path = directory / kRunSummaryFileName;
  // A directory that is not there can hold no summary, like one where it cannot be opened.
  if (!fs::is_directory(directory)) return {};
  // The shards' and the index's names reach the disk before the summary can, and the summary's
  // own name right after it: a machine that stops in between keeps a directory without the mark.
  util::Result<void> synced = util::SyncDirectory(directory);
  if (!synced) return synced;
  const util::WholeFileWrite written = util::WriteWholeFile(path, text);
  if (written == util::WholeFileWrite::kFailed) {
    return util::Fail("Failed to write run summary: " + path.string());
  }
  if (written == util::WholeFileWrite::kNotOpened) return {};
  return util::SyncDirectory(directory);
}

}  // namespace boardmill::run
