#include "app/verify_command.h"

#include <optional>
#include <string_view>

#include "app/console_lines.h"
#include "app/option_values.h"
#include "app/usage.h"
#include "io/run_locks.h"
#include "pipeline/shard_verification.h"

namespace boardmill::app {

namespace {

constexpr std::uint64_t kDefaultShardCount = 256;

// The shard count the arguments after the directory ask for; empty when they are malformed.
std::optional<std::uint64_t> ParseVerifyShardCount(int argc, char** argv) {
  std::uint64_t shard_count = kDefaultShardCount;
  for (int i = 3; i < argc; i += 2) {
    if (std::string_view(argv[i]) != "--shards" || i + 1 >= argc) return std::nullopt;
    const std::optional<std::uint64_t> value = ParseCountValue(argv[i + 1]);
    if (!value) return std::nullopt;
    shard_count = *value;
  }
  return shard_count;
}

}  // namespace

int RunVerifyShardsCommand(int argc, char** argv) {
  const std::optional<std::uint64_t> shard_count =
      argc >= 3 ? ParseVerifyShardCount(argc, argv) : std::nullopt;
  if (!shard_count) {
    PrintUsage();
    return 1;
  }
  // Shared, so that several checks may run at once but none while a run writes the shards.
  const util::Result<io::FileLock> lock = io::LockDirectoryForReading(argv[2], "shard directory");
  if (!lock) return PrintErrorLine(lock.error());
  const util::Result<pipeline::ShardVerificationSummary> summary =
      pipeline::VerifyShards(argv[2], *shard_count);
  if (!summary) return PrintErrorLine(summary.error());
  PrintLine("Verified shard files: ", summary->verified_files);
  PrintLine("Verified records: ", summary->verified_records);
  return 0;
}

}  // namespace boardmill::app
