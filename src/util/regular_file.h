#pragma once

#include <filesystem>
#include <string_view>

#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::util {

// Opens `path` for reading only if it is a regular file, judged on the open descriptor, so that
// a FIFO, a device or a directory put where a file belongs is refused at once instead of
// blocking the open or a read, or feeding endless bytes (a link to /dev/zero). `what` names the
// file in the messages ("shard file"): "Failed to open <what>: <path>" or "<What> is not a
// regular file: <path>".
Result<UniqueFile> OpenRegularFile(const std::filesystem::path& path, std::string_view what);

}  // namespace boardmill::util
