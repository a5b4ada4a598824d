#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "util/result.h"

namespace boardmill::pipeline {

// The check that the ranks of an MPI job share the directories they all write. Rank 0 leaves a
// file with a random token in each; a rank that does not find the same token there does not share
// the directory, and the job stops before any work.
struct SharedDirectoryMarks {
  std::vector<std::filesystem::path> files;
  std::string token;
};

util::Result<SharedDirectoryMarks> MarkSharedDirectories(
    const std::vector<std::filesystem::path>& directories);
util::Result<void> CheckSharedDirectories(const SharedDirectoryMarks& marks, int rank);
void RemoveMarks(const SharedDirectoryMarks& marks);

}  // namespace boardmill::pipeline
