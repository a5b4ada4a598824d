#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "util/result.h"

namespace boardmill::io {

inline constexpr char kInputSuffix[] = ".fen.zst";
// EPD files, listed only for the lenient reading.
inline constexpr char kEpdInputSuffix[] = ".epd.zst";

// The regular files directly inside `directory` (links followed) whose names end in `suffix`,
// sorted by name. An entry with such a name that is not a readable regular file fails the
// listing with a line naming it. Each path is `directory` as given joined with the file name.
util::Result<std::vector<std::filesystem::path>> ListInputFiles(
    const std::filesystem::path& directory, const std::filesystem::path& suffix);

// Where input files are looked for, beyond the .fen.zst files directly in the input directory.
struct InputDiscovery {
  // The whole tree below the directory. Links to directories are not entered, so a link cannot
  // make a loop; links to files count as the files.
  bool recursive = false;
  // .epd.zst files as well.
  bool include_epd = false;
};

// The input files found as `discovery` says, sorted bytewise by their path relative to
// `directory` (which for files directly inside it is their name, as ListInputFiles sorts them).
// Each path is `directory` as given joined with that relative path.
util::Result<std::vector<std::filesystem::path>> ListInputTree(
    const std::filesystem::path& directory, const InputDiscovery& discovery);

// Keeps the first `max_files` entries; 0 keeps all.
void KeepFirstFiles(std::vector<std::filesystem::path>& files, std::uint64_t max_files);

// The input files of a data set: by default the .fen.zst files of `directory`, listed as
// ListInputFiles does, otherwise as ListInputTree does; a --max-files limit keeps the first
// `max_files` (0 keeps all).
util::Result<std::vector<std::filesystem::path>> ListFenFiles(
    const std::filesystem::path& directory, std::uint64_t max_files,
    const InputDiscovery& discovery = {});

// The part of `file`, a path listed for `directory`, below `directory`: the file name for a file
// directly inside it, "sub/name" deeper down. What reports and resume checks name a file by.
std::string RelativeInputPath(const std::filesystem::path& file,
                              const std::filesystem::path& directory);

}  // namespace boardmill::io
