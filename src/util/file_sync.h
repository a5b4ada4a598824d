#pragma once

#include <cstdio>
#include <filesystem>

#include "util/result.h"

namespace boardmill::util {

// Every file this system writes reaches the disk through these calls before anything that vouches
// for it (a rename into place, a manifest record, run-summary.txt) is written, so that a power
// cut or kernel crash cannot keep the promise while losing what it promises. A failure names the
// file and ends the operation: data the kernel could not write back is gone, and retrying the
// sync would report success over it.
//
// For tests, BOARDMILL_TEST_FAIL_SYNC (read once) names the end of a path: a sync of a path that
// ends with it fails with EIO instead of reaching the disk. Unset, it changes nothing.

// Flushes the stream's buffer and the file's data and metadata.
Result<void> SyncFile(std::FILE* file, const std::filesystem::path& path);
// The file's data and metadata, through a descriptor of its own, for files written through
// streams that do not show theirs.
Result<void> SyncFile(const std::filesystem::path& path);
// The file's data and its size, not its times: enough for a journal that only grows.
Result<void> SyncFileData(const std::filesystem::path& path);
// The directory's entries, so that files created or renamed in it stay under their names.
Result<void> SyncDirectory(const std::filesystem::path& path);

}  // namespace boardmill::util
