#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/progress_option.h"
#include "util/result.h"

namespace boardmill::app {

// What the verify-shards command line says after the directory.
struct VerifyCommandLine {
  std::optional<std::uint64_t> shard_count;  // empty: the shard index's, else 256
  bool quick = false;                        // sizes and hashes against the index only
  bool allow_unfinished = false;             // read the shards of a run that did not finish
  ProgressChoice progress = ProgressChoice::kAuto;
};

// Fills `command_line` from argv: the directory (argv[2], left to the caller), then --shards N
// pairs, --quick, --allow-unfinished and the progress flags, the last of each winning. When they
// are malformed, the reason, naming the argument.
util::Result<void> ParseVerifyOptions(int argc, char** argv, VerifyCommandLine& command_line);

// The usage lines of the command: the full check, then the quick one.
std::string VerifySynopsis(std::string_view command);

}  // namespace boardmill::app
