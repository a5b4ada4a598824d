#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "util/result.h"

namespace boardmill::io {

inline constexpr char kInputSuffix[] = ".fen.zst";

// The regular files directly inside `directory` (links followed) whose names end in `suffix`,
// sorted by name. An entry with such a name that is not a readable regular file fails the
// listing with a line naming it. Each path is `directory` as given joined with the file name.
util::Result<std::vector<std::filesystem::path>> ListInputFiles(
    const std::filesystem::path& directory, const std::filesystem::path& suffix);

// Keeps the first `max_files` entries; 0 keeps all.
void KeepFirstFiles(std::vector<std::filesystem::path>& files, std::uint64_t max_files);

// The input files of a data set: the .fen.zst files of `directory`, listed as above, of which a
// --max-files limit keeps the first `max_files` (0 keeps all).
util::Result<std::vector<std::filesystem::path>> ListFenFiles(
    const std::filesystem::path& directory, std::uint64_t max_files);

}  // namespace boardmill::io
