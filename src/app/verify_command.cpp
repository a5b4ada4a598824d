#include "app/verify_command.h"

#include "app/console_lines.h"
#include "app/status_line.h"
#include "app/status_text.h"
#include "app/usage.h"
#include "app/verify_options.h"
#include "io/run_locks.h"
#include "run/unfinished_run.h"
#include "shards/shard_verification.h"

namespace boardmill::app {

namespace {

std::string VerificationStatus(const shards::VerificationProgress& progress, double elapsed,
                               TimeLeftEstimate& time_left) {
  constexpr std::memory_order kRelaxed = std::memory_order_relaxed;
  const ItemsDone shards{
      progress.shards_verified.load(kRelaxed), progress.shards_total.load(kRelaxed),
      progress.bytes_verified.load(kRelaxed), progress.bytes_total.load(kRelaxed)};
  return ItemsAndRecordsStatus("verifying", "shards", "read", shards,
                               progress.records_verified.load(kRelaxed), elapsed, time_left);
}

}  // namespace

int RunVerifyShardsCommand(int argc, char** argv) {
  VerifyCommandLine command_line;
  const util::Result<void> parsed = ParseVerifyOptions(argc, argv, command_line);
  if (!parsed) return RefuseCommandLine(parsed.error());
  // Shared, so that several checks may run at once but none while a run writes the shards.
  const util::Result<io::FileLock> lock = io::LockDirectoryForReading(argv[2], "shard directory");
  if (!lock) return PrintErrorLine(lock.error());
  if (!command_line.allow_unfinished) {
    const util::Result<void> finished = run::RefuseUnfinishedRun(argv[2]);
    if (!finished) return PrintErrorLine(finished.error());
  }
  shards::VerificationProgress progress;
  const std::optional<StatusLineStyle> style = ChooseStatusLineStyle(command_line.progress);
  StatusLine status_line(style,
                         [&progress, time_left = TimeLeftEstimate()](double elapsed) mutable {
                           return VerificationStatus(progress, elapsed, time_left);
                         });
  const util::Result<shards::ShardVerificationSummary> summary = shards::VerifyShards(
      argv[2], {.shard_count = command_line.shard_count, .quick = command_line.quick},
      style ? &progress : nullptr);
  status_line.Stop();
  if (!summary) return PrintErrorLine(summary.error());
  PrintLine("Verified shard files: ", summary->verified_files);
  if (command_line.quick) {
    PrintLine("Indexed records: ", summary->indexed_records);
  } else {
    PrintLine("Verified records: ", summary->verified_records);
  }
  return 0;
}

}  // namespace boardmill::app
