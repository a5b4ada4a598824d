#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "util/result.h"

namespace boardmill::app {

inline constexpr char kInputSuffix[] = ".fen.zst";

// The regular files directly inside `directory` (links followed) whose names end in `suffix`,
// sorted by name. Each path is `directory` as given joined with the file name.
util::Result<std::vector<std::filesystem::path>> ListInputFiles(
    const std::filesystem::path& directory, const std::filesystem::path& suffix);

// Keeps the first `max_files` entries; 0 keeps all.
void KeepFirstFiles(std::vector<std::filesystem::path>& files, std::uint64_t max_files);

// The scan command: prints the listing; returns the exit code.
int RunScan(const std::string& directory);

}  // namespace boardmill::app
