#include "pipeline/parallel/rank_handshake.h"

#include <fstream>
#include <random>
#include <system_error>

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

constexpr char kMarkName[] = ".boardmill-shared-check";

std::string RandomToken() {
  std::random_device device;
  return std::to_string(device()) + "-" + std::to_string(device());
}

}  // namespace

RankMessageWriter OutcomeWriter(RankMessageKind kind, const util::Result<void>& outcome) {
  RankMessageWriter writer(kind);
  writer.Number(outcome ? 1 : 0).Text(outcome ? std::string() : outcome.error());
  return writer;
}

util::Result<void> ReadOutcome(RankMessageReader& reader) {
  const bool ok = reader.Number() == 1;
  std::string message = reader.Text();
  if (reader.damaged()) return util::Fail("A rank of the MPI job sent a damaged message.");
  if (!ok) return util::Fail(std::move(message));
  return {};
}

util::Result<SharedDirectoryMarks> MarkSharedDirectories(const std::vector<fs::path>& directories) {
  SharedDirectoryMarks marks;
  marks.token = RandomToken();
  for (const fs::path& directory : directories) {
    const fs::path file = directory / kMarkName;
    std::ofstream out(file, std::ios::trunc);
    out << marks.token;
    out.close();
    if (!out) return util::Fail("Failed to write " + file.string());
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

std::vector<std::uint8_t> StartMessage(const util::Result<void>& prepared,
                                       const SharedDirectoryMarks& marks,
                                       const std::vector<fs::path>& files) {
  RankMessageWriter writer = OutcomeWriter(RankMessageKind::kStart, prepared);
  writer.Text(marks.token).Number(marks.files.size());
  for (const fs::path& file : marks.files) writer.Text(file.native());
  writer.Number(files.size());
  for (const fs::path& file : files) writer.Text(file.native());
  return writer.Take();
}

util::Result<void> ReadStartMessage(const std::vector<std::uint8_t>& bytes,
                                    SharedDirectoryMarks& marks, std::vector<fs::path>& files) {
  RankMessageReader reader(bytes);
  util::Result<void> outcome = ReadOutcome(reader);
  if (!outcome) return outcome;
  marks.token = reader.Text();
  for (std::uint64_t count = reader.Number(); count > 0 && !reader.damaged(); --count) {
    marks.files.emplace_back(reader.Text());
  }
  for (std::uint64_t count = reader.Number(); count > 0 && !reader.damaged(); --count) {
    files.emplace_back(reader.Text());
  }
  if (reader.damaged()) return util::Fail("A rank of the MPI job sent a damaged message.");
  return {};
}

std::vector<std::uint8_t> ConvertedMessage(const util::Result<void>& converted,
                                           const std::vector<FileGroup>& groups) {
  RankMessageWriter writer = OutcomeWriter(RankMessageKind::kConverted, converted);
  writer.Number(groups.size());
  for (const FileGroup& group : groups) writer.Group(group);
  return writer.Take();
}

util::Result<void> ReadConvertedMessage(const std::vector<std::uint8_t>& bytes,
                                        std::vector<FileGroup>& groups) {
  RankMessageReader reader(bytes);
  util::Result<void> outcome = ReadOutcome(reader);
  if (!outcome) return outcome;
  for (std::uint64_t count = reader.Number(); count > 0 && !reader.damaged(); --count) {
    groups.push_back(reader.Group());
  }
  if (reader.damaged()) return util::Fail("A rank of the MPI job sent a damaged message.");
  return {};
}

}  // namespace boardmill::pipeline
