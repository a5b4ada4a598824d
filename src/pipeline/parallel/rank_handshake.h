#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/rank_message.h"
#include "util/result.h"

namespace boardmill::pipeline {

// What rank 0 tells every rank before and after the conversion of a parallel run across an MPI
// job, and the check that the ranks share the directories they all write.

// Rank 0 leaves a file with a random token in each directory every rank writes; a rank that does
// not find the same token there does not share the directory, and the job stops before any work.
struct SharedDirectoryMarks {
  std::vector<std::filesystem::path> files;
  std::string token;
};

util::Result<SharedDirectoryMarks> MarkSharedDirectories(
    const std::vector<std::filesystem::path>& directories);
util::Result<void> CheckSharedDirectories(const SharedDirectoryMarks& marks, int rank);
void RemoveMarks(const SharedDirectoryMarks& marks);

// kStart: the outcome of rank 0's preparation, the marks, and the input files.
std::vector<std::uint8_t> StartMessage(const util::Result<void>& prepared,
                                       const SharedDirectoryMarks& marks,
                                       const std::vector<std::filesystem::path>& files);
util::Result<void> ReadStartMessage(const std::vector<std::uint8_t>& bytes,
                                    SharedDirectoryMarks& marks,
                                    std::vector<std::filesystem::path>& files);

// A message that starts with an outcome (success, or the failure's one line), for the caller to
// add to; and the reading of that outcome.
RankMessageWriter OutcomeWriter(RankMessageKind kind, const util::Result<void>& outcome);
util::Result<void> ReadOutcome(RankMessageReader& reader);

// kConverted: the outcome of the conversion and every group in file order.
std::vector<std::uint8_t> ConvertedMessage(const util::Result<void>& converted,
                                           const std::vector<FileGroup>& groups);
util::Result<void> ReadConvertedMessage(const std::vector<std::uint8_t>& bytes,
                                        std::vector<FileGroup>& groups);

}  // namespace boardmill::pipeline
