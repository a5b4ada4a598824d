#pragma once

#include <cstdint>

#include "app/progress_option.h"

namespace boardmill::app {

// What the verify-shards command line says after the directory.
struct VerifyCommandLine {
  std::uint64_t shard_count = 256;
  ProgressChoice progress = ProgressChoice::kAuto;
};

// Fills `command_line` from the arguments after the directory (argv[3] on): --shards N pairs and
// the progress flags, the last of each winning. False (and no message) when they are malformed.
bool ParseVerifyOptions(int argc, char** argv, VerifyCommandLine& command_line);

}  // namespace boardmill::app
