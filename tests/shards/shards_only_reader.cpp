// Reads a converted output directory with the shards library alone: its index, every record of
// every shard, and a full verification. Its link line is the proof that a program reading shards
// needs neither MPI nor io_uring (tests/shards/CMakeLists.txt checks it).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <vector>

#include "chess/packed_sfen.h"
#include "chess/position.h"
#include "shards/shard_files.h"
#include "shards/shard_index.h"
#include "shards/shard_index_reader.h"
#include "shards/shard_record_reader.h"
#include "shards/shard_verification.h"
#include "util/result.h"

namespace {

namespace fs = std::filesystem;
using namespace boardmill;

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

util::Result<std::uint64_t> CountRecords(const std::vector<fs::path>& files) {
  shards::ShardRecordReader reader;
  std::uint64_t records = 0;
  for (const fs::path& file : files) {
    util::Result<bool> read =
        reader.ReadFile(file, [&records](const chess::PackedSfen&, const chess::Position&) {
          ++records;
          return true;
        });
    if (!read) return std::move(read).TakeError();
  }
  return records;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: shards_only_reader <output directory>");
  const fs::path directory = argv[1];

  const util::Result<std::optional<shards::ShardIndex>> index = shards::LoadShardIndex(directory);
  if (!index) return Fail(index.error());
  if (!*index) return Fail("no shard index in " + directory.string());
  std::uint64_t indexed = 0;
  for (const shards::IndexedShard& shard : (*index)->shards) indexed += shard.records;

  const util::Result<std::vector<fs::path>> files = shards::ListShardFiles(directory);
  if (!files) return Fail(files.error());
  const util::Result<std::uint64_t> read = CountRecords(*files);
  if (!read) return Fail(read.error());
  const util::Result<shards::ShardVerificationSummary> verified =
      shards::VerifyShards(directory, shards::ShardVerificationRequest{});
  if (!verified) return Fail(verified.error());

  if (*read != indexed || verified->verified_records != indexed) {
    return Fail("records read " + std::to_string(*read) + ", verified " +
                std::to_string(verified->verified_records) + ", indexed " +
                std::to_string(indexed));
  }
  std::printf("shards=%zu records=%llu\n", files->size(), static_cast<unsigned long long>(indexed));
  return 0;
}
