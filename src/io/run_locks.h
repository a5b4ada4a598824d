#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

#include "io/file_lock.h"
#include "util/result.h"

namespace boardmill::io {

// The lock file a command that writes into a directory keeps there. It stays after the command:
// removing it would race with the next command, which may already have opened it.
inline constexpr char kLockFileName[] = "boardmill.lock";

// The exclusive locks of a command that writes: one for each place it writes, refused at once
// with one line when another process holds it, all released together when the object goes away
// (for a command, when its process ends). Two runs aimed at one place would otherwise interleave
// their files and both report success.
class RunLocks {
 public:
  // Creates the output directory ("Failed to create output directory: " ...) so that its lock
  // file has a place, and locks it. Call this first.
  util::Result<void> LockOutputDirectory(const std::filesystem::path& directory);

  // False for a path inside the locked output directory, which its lock already guards.
  bool IsOutsideOutput(const std::filesystem::path& path) const;

  // Locks an existing directory through the lock file in it; `role` names the directory in the
  // messages ("scratch directory").
  util::Result<void> LockDirectory(const std::filesystem::path& directory, std::string_view role);

  // Locks a file the command writes through "<file>.lock" beside it, so that commands sharing
  // no more than a parent directory such as /tmp do not block each other. A device or any other
  // file that is not a regular one (a reject log sent to /dev/null) is nothing a command
  // produces and gets no lock; nor does a file whose directory does not exist.
  util::Result<void> LockFile(const std::filesystem::path& file, std::string_view role);

 private:
  util::Result<void> Hold(const std::filesystem::path& lock_file,
                          const std::filesystem::path& guarded, std::string_view role);

  std::filesystem::path output_directory_;
  std::vector<std::filesystem::path> lock_files_;
  std::vector<FileLock> locks_;
};

// The shared lock of a command that reads the shards of `directory`, refused with one line while
// a run writes there. A directory without a lock file gets none (an empty FileLock): no command
// that locks is writing there, and one that only reads should not add files.
util::Result<FileLock> LockDirectoryForReading(const std::filesystem::path& directory,
                                               std::string_view role);

}  // namespace boardmill::io
