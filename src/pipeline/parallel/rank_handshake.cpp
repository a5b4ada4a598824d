#include "pipeline/parallel/rank_handshake.h"

#include <fstream>
#include <random>
#include <system_error>

#include "util/whole_file.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr char kMarkName[] = ".boardmill-shared-check";

std::string RandomToken() {
  std::random_device device;
  return std::to_string(device()) + "-" + std::to_string(device());
}

}  // namespace

util::Result<SharedDirectoryMarks> MarkSharedDirectories(const std::vector<fs::path>& directories) {
  SharedDirectoryMarks marks;
  marks.token = RandomToken();
  for (const fs::path& directory : directories) {
    const fs::path file = directory / kMarkName;
    if (util::WriteWholeFile(file, marks.token) != util::WholeFileWrite::kWritten)
      return util::Fail("Failed to write " + file.string());
    marks.files.push_back(file);
  }
  return marks;
}

util::Result<void> CheckSharedDirectories(const SharedDirectoryMarks& marks, int rank) {
  for (const fs::path& file : marks.files) {
    std::ifstream in(file);
    std::string token;
    if (!(in >> token) || token != marks.token) {
      return util::Fail("Rank " + std::to_string(rank) + " of the MPI job cannot see " +
                        file.parent_path().string() +
                        " as rank 0 does: every rank must share the output and scratch "
                        "directories.");
    }
  }
  return {};
}

void RemoveMarks(const SharedDirectoryMarks& marks) {
  for (const fs::path& file : marks.files) {
    std::error_code ignored;
    fs::remove(file, ignored);
  }
}

}  // namespace boardmill::pipeline
