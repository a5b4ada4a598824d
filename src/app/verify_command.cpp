#include "app/verify_command.h"

#include <optional>
#include <string_view>

#include "app/console_lines.h"
#include "app/option_values.h"
#include "app/usage.h"
#include "pipeline/shard_verification.h"

namespace boardmill::app {

namespace {

// The request the arguments after the directory make; empty when they are malformed.
std::optional<pipeline::ShardVerificationRequest> ParseVerifyRequest(int argc, char** argv) {
  const std::optional<FlagAndCount> options =
      ParseFlagAndCount(argc, argv, 3, "--quick", "--shards");
  if (!options) return std::nullopt;
  return pipeline::ShardVerificationRequest{.shard_count = options->count, .quick = options->flag};
}

}  // namespace

int RunVerifyShardsCommand(int argc, char** argv) {
  const std::optional<pipeline::ShardVerificationRequest> request =
      argc >= 3 ? ParseVerifyRequest(argc, argv) : std::nullopt;
  if (!request) {
    PrintUsage();
    return 1;
  }
  const util::Result<pipeline::ShardVerificationSummary> summary =
      pipeline::VerifyShards(argv[2], *request);
  if (!summary) return PrintErrorLine(summary.error());
  PrintLine("Verified shard files: ", summary->verified_files);
  if (request->quick) {
    PrintLine("Indexed records: ", summary->indexed_records);
  } else {
    PrintLine("Verified records: ", summary->verified_records);
  }
  return 0;
}

}  // namespace boardmill::app
