#pragma once

#include <filesystem>
#include <string_view>

namespace boardmill::util {

enum class WholeFileWrite { kWritten, kNotOpened, kFailed };

// Writes `text` to `path` + ".partial" and renames that over `path` only when every byte has
// reached it, so that a reader finds the earlier file, the whole new one or none, never a torn
// one. A side file left by a failed write is removed.
WholeFileWrite WriteWholeFile(const std::filesystem::path& path, std::string_view text);

// Removes `path` if something is there; false when it is there and stays.
bool RemoveFileIfPresent(const std::filesystem::path& path);

}  // namespace boardmill::util
