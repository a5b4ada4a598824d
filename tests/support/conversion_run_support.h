#pragma once

// Helpers of the tests that run whole conversions and inspect the output directory they leave:
// input files, shard contents, run-summary.txt and run-manifest.tsv read back.

#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "shards/shard_index_reader.h"
#include "shards/shard_naming.h"
#include "test_support.h"

namespace boardmill::testing {

// Input files cut from the sample positions, each from a different offset so that no two files
// are alike and a merge that mixed up the file order would show; each also holds one line that
// is not a position, so that the reject counts take part.
inline void MakeInputs(const std::filesystem::path& directory, int files, int lines) {
  std::vector<std::string> positions = Split(ReadZstdFile(TestDataPath("positions.fen.zst")), '\n');
  positions.erase(std::remove(positions.begin(), positions.end(), ""), positions.end());
  for (int file = 0; file < files; ++file) {
    std::string text;
    for (int line = 0; line < lines; ++line) {
      text += positions[(file * 379 + line) % positions.size()];
      text += '\n';
      if (line == file) text += "not a position\n";
    }
    WriteZstdFile(directory / ("input-" + std::to_string(100 + file) + ".fen.zst"), text);
  }
}

// Decompressed content per shard file name; a zero-byte file reads as empty.
inline std::map<std::string, std::string> ShardContents(const std::filesystem::path& directory) {
  std::map<std::string, std::string> contents;
  for (const std::filesystem::directory_entry& entry :
       std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".psfen.zst")) {
      contents[name] =
          std::filesystem::file_size(entry.path()) == 0 ? "" : ReadZstdFile(entry.path());
    }
  }
  return contents;
}

// Decompressed content of shards 0 to `shard_count` - 1, in order; a missing file fails the
// current test and reads as empty.
inline std::vector<std::string> DecompressedShards(const std::filesystem::path& directory,
                                                   std::uint64_t shard_count) {
  std::vector<std::string> contents;
  for (std::uint64_t id = 0; id < shard_count; ++id) {
    const std::filesystem::path path = shards::ShardPath(directory, id, shard_count);
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;
    contents.push_back(std::filesystem::is_regular_file(path) ? ReadZstdFile(path) : std::string());
  }
  return contents;
}

// Expects shard-index.json to list `shard_count` shards exactly as their files are: each one's
// records counted from its decompressed content, its size, and the XXH64 of its bytes.
inline void ExpectIndexDescribesShards(const std::filesystem::path& directory,
                                       std::uint64_t shard_count) {
  const util::Result<std::optional<shards::ShardIndex>> index = shards::LoadShardIndex(directory);
  ASSERT_TRUE(index.ok()) << index.error();
  ASSERT_TRUE(index->has_value()) << "no shard index in " << directory;
  ASSERT_EQ((*index)->shards.size(), shard_count);
  for (std::uint64_t id = 0; id < shard_count; ++id) {
    const std::filesystem::path path = shards::ShardPath(directory, id, shard_count);
    const std::string stored = ReadFile(path);
    const std::uint64_t records = stored.empty() ? 0 : ReadZstdFile(path).size() / 32;
    const shards::IndexedShard actual{records, stored.size(),
                                      XXH64(stored.data(), stored.size(), 0)};
    EXPECT_EQ((*index)->shards[id], actual) << path;
  }
}

inline std::map<std::string, std::string> SummaryValues(const std::filesystem::path& file) {
  std::map<std::string, std::string> values;
  for (const std::string& line : ReadLines(file)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

// A fixture with a fresh temporary directory and, below it, the input and output directories
// of the conversion under test (neither created). `Base` is the gtest fixture it extends.
template <typename Base = ::testing::Test>
class ConversionDirectoriesTest : public Base {
 protected:
  TempDir temp_;
  const std::filesystem::path in_ = temp_ / "in";
  const std::filesystem::path out_ = temp_ / "out";
};

// One execution mode as its command-line options, for the tests that run every mode.
struct ModeCase {
  std::string name;
  std::vector<std::string> options;
};

// The three modes, with two threads where a mode takes a thread count, writing `shards` shards.
inline std::vector<ModeCase> EveryModeWithShards(const std::string& shards) {
  return {
      {"sequential", {"--sequential", "--shards", shards}},
      {"parallel", {"--parallel", "--max-threads", "2", "--shards", shards}},
      {"staged", {"--staged", "--max-threads", "2", "--shards", shards}},
  };
}

inline bool IsRunStart(const std::string& line) { return line.starts_with("run\tstart\t"); }
inline bool IsRunFinish(const std::string& line) { return line.starts_with("run\tfinish\t"); }

// A manifest read back: its completed-file records, split at the last run start into those of
// earlier runs and those of the last run.
struct ManifestRecords {
  std::vector<std::string> lines;
  std::vector<std::vector<std::string>> earlier_files;
  std::vector<std::vector<std::string>> last_run_files;
  bool last_run_finished = false;
  std::size_t run_starts = 0;
};

inline ManifestRecords ReadManifest(const std::filesystem::path& path) {
  ManifestRecords records;
  records.lines = ReadLines(path);
  for (const std::string& line : records.lines) {
    if (IsRunStart(line)) {
      ++records.run_starts;
      records.earlier_files.insert(records.earlier_files.end(), records.last_run_files.begin(),
                                   records.last_run_files.end());
      records.last_run_files.clear();
      records.last_run_finished = false;
    } else if (IsRunFinish(line)) {
      records.last_run_finished = true;
    } else if (line.starts_with("file\tcompleted\t")) {
      records.last_run_files.push_back(Split(line, '\t'));
    }
  }
  return records;
}

inline std::size_t CompletedFileCount(const std::filesystem::path& manifest) {
  std::size_t count = 0;
  for (const std::string& line : ReadLines(manifest))
    count += line.starts_with("file\tcompleted\t");
  return count;
}

// `convert input output --min-free-space-gib 0` followed by `extra`: a run that no machine's
// free space refuses.
inline std::vector<std::string> ConvertArguments(const std::filesystem::path& input,
                                                 const std::filesystem::path& output,
                                                 const std::vector<std::string>& extra) {
  std::vector<std::string> arguments = {"convert", input.string(), output.string(),
                                        "--min-free-space-gib", "0"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

inline ProgramRun Convert(const std::filesystem::path& input, const std::filesystem::path& output,
                          const std::vector<std::string>& extra) {
  return RunBoardmill(ConvertArguments(input, output, extra));
}

}  // namespace boardmill::testing
