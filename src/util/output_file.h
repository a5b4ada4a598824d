#pragma once

#include <filesystem>

#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::util {

// Every file a command writes is opened here, so that none can be made to write through a link
// or block on a FIFO that someone planted under its name.

// Creates `path` afresh for writing (`mode` as for fopen, "w" or "wb"): whatever stands there
// (a stale file, a link, a FIFO) is removed first and the file is created with O_EXCL and
// O_NOFOLLOW, so a link is never followed and a hard link's other names keep their bytes. A
// character device (a reject log sent to /dev/null) is written in place. Null with errno set
// when it cannot.
UniqueFile CreateOutputFile(const std::filesystem::path& path, const char* mode = "wb");

// Opens `path` for appending, creating it when missing. A link or anything that is not a regular
// file is refused (errno ELOOP or EINVAL), checked on the open descriptor so that a FIFO cannot
// stall the open.
UniqueFile OpenOutputForAppend(const std::filesystem::path& path);

// Creates the missing directories above `path`, so that a file can be created there. Fails with
// the system's reason alone; the caller names what the directory was for.
Result<void> CreateParentDirectories(const std::filesystem::path& path);

}  // namespace boardmill::util
