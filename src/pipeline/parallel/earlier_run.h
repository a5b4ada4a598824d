#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "pipeline/parallel/shard_merger.h"
#include "util/result.h"

namespace boardmill::pipeline {

// What --resume finds of earlier runs, and the checks that keep it from reusing the wrong files.

// Resuming identifies files by their index in today's listing; a listing that changed since the
// manifest was written would make the run skip the wrong files, so every completed index must
// still name the same file: the same path below `input_directory` (the file name, when the
// files lie directly inside it). The directory itself may be spelled differently from run to run.
util::Result<void> CheckResumedFileNames(const std::map<std::uint64_t, std::string>& completed,
                                         const std::vector<std::filesystem::path>& files,
                                         const std::filesystem::path& input_directory,
                                         const std::filesystem::path& manifest);

// The fragments earlier runs completed, in file order. Each must still belong to the files now
// at its indices, and no two may hold the same file. Leftovers of tasks that did not complete
// (".partial" files) are removed; a scratch directory of the earlier layout (a directory per
// file) is refused.
util::Result<std::vector<FragmentSource>> FindEarlierFragments(
    const std::filesystem::path& fragments_root, const std::vector<std::filesystem::path>& files,
    const std::filesystem::path& input_directory);

}  // namespace boardmill::pipeline
