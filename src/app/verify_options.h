#pragma once

#include <cstdint>
#include <optional>

#include "app/progress_option.h"

namespace boardmill::app {

// What the verify-shards command line says after the directory.
struct VerifyCommandLine {
  std::optional<std::uint64_t> shard_count;  // empty: the shard index's, else 256
  bool quick = false;                        // sizes and hashes against the index only
  ProgressChoice progress = ProgressChoice::kAuto;
};

// Fills `command_line` from the arguments after the directory (argv[3] on): --shards N pairs,
// --quick and the progress flags, the last of each winning. False (and no message) when they are
// malformed.
bool ParseVerifyOptions(int argc, char** argv, VerifyCommandLine& command_line);

}  // namespace boardmill::app
