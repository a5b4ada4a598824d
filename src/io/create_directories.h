#pragma once

#include <filesystem>
#include <string_view>

#include "util/result.h"

namespace boardmill::io {

// Creates `directory` and its missing parents; fails with `failure_prefix` followed by the
// system's message ("Failed to create output directory: Not a directory").
util::Result<void> CreateDirectories(const std::filesystem::path& directory,
                                     std::string_view failure_prefix);

}  // namespace boardmill::io
