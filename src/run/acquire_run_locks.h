#pragma once

#include <filesystem>
#include <span>
#include <string_view>

#include "io/run_locks.h"
#include "util/result.h"

namespace boardmill::run {

// A place a command writes besides its output directory: a directory, or a file locked through
// "<file>.lock" beside it. An empty path, or one inside the output directory, needs no lock of
// its own: the output directory's guards it.
struct LockedPlace {
  enum class Kind { kDirectory, kFile };

  Kind kind = Kind::kFile;
  std::filesystem::path path;
  std::string_view role;              // names the place in messages: "scratch directory"
  std::string_view creation_failure;  // the message prefix when its directory cannot be made
};

// Locks the output directory (created first so that its lock file has a place), then each of
// `places` in the order given, so that two commands that lock in one order never hold one lock
// each. The directory of each place is created here, as its writer would, so that its lock has a
// place too. A command calls this once the refusals that must leave an earlier output untouched
// are behind it and before it creates or removes anything else; it keeps the locks to its end.
util::Result<io::RunLocks> AcquireRunLocks(const std::filesystem::path& output_directory,
                                           std::span<const LockedPlace> places);

}  // namespace boardmill::run
