#include "pipeline/shuffle/shuffle_scratch.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include "io/create_directories.h"
#include "pipeline/shuffle/spread_file.h"
#include "shards/shard_naming.h"
#include "util/byte_digest.h"
#include "util/output_file.h"
#include "util/whole_file.h"

namespace boardmill::shuffle {

namespace {

namespace fs = std::filesystem;

constexpr char kSettingsFileName[] = "settings";
constexpr char kFinishedListPrefix[] = "finished-shards-";
constexpr char kSpreadDirectoryName[] = "spread";

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace

ShuffleScratch::ShuffleScratch(const fs::path& scratch_directory, std::string settings)
    : root_(scratch_directory / "shuffle"), settings_(std::move(settings)) {}

util::Result<void> ShuffleScratch::Prepare(bool resume) {
  const fs::path settings_path = root_ / kSettingsFileName;
  std::error_code error;
  const bool earlier = fs::exists(settings_path, error);
  if (resume && earlier && ReadText(settings_path) != settings_) {
    return util::Fail(
        "Cannot resume: the scratch directory holds a shuffle of other inputs or "
        "settings: " +
        root_.string());
  }
  if (!resume || !earlier) {
    fs::remove_all(root_, error);
    if (error) return util::Fail("Failed to remove earlier scratch: " + root_.string());
  }
  util::Result<void> created =
      io::CreateDirectories(root_ / kSpreadDirectoryName, "Failed to create scratch directory: ");
  if (!created) return created;
  if (util::WriteWholeFile(settings_path, settings_) != util::WholeFileWrite::kWritten) {
    return util::Fail("Failed to write scratch file: " + settings_path.string());
  }
  return {};
}

util::Result<void> ShuffleScratch::OpenFinishedList(std::uint64_t rank) {
  finished_list_path_ = root_ / (kFinishedListPrefix + std::to_string(rank) + ".tsv");
  finished_list_ = util::OpenOutputForAppend(finished_list_path_);
  if (!finished_list_)
    return util::Fail("Failed to open scratch file: " + finished_list_path_.string());
  return {};
}

bool ShuffleScratch::HoldsThisRun() const {
  return ReadText(root_ / kSettingsFileName) == settings_;
}

fs::path ShuffleScratch::SpreadPath(std::uint64_t input_sequence) const {
  return root_ / kSpreadDirectoryName / SpreadFileName(input_sequence);
}

bool ShuffleScratch::IsSpread(std::uint64_t input_sequence) const {
  std::error_code error;
  return fs::is_regular_file(SpreadPath(input_sequence), error);
}

std::map<std::uint64_t, shards::IndexedShard> ShuffleScratch::FinishedShards(
    const fs::path& output_directory, std::uint64_t shard_count) const {
  std::map<std::uint64_t, shards::IndexedShard> finished;
  std::string lists;
  std::error_code error;
  for (fs::directory_iterator entry(root_, error), end; !error && entry != end;
       entry.increment(error)) {
    if (entry->path().filename().string().starts_with(kFinishedListPrefix)) {
      lists += ReadText(entry->path()) + "\n";  // a line cut short stays apart
    }
  }
  std::istringstream list(lists);
  std::string line;
  while (std::getline(list, line)) {
    std::uint64_t id = 0;
    shards::IndexedShard shard;
    // A line cut short by a stop in mid-write does not parse, and its shard is done again.
    if (std::sscanf(line.c_str(), "%" SCNu64 "\t%" SCNu64 "\t%" SCNu64 "\t%" SCNx64, &id,
                    &shard.records, &shard.bytes, &shard.xxh64) != 4 ||
        id >= shard_count) {
      continue;
    }
    const util::Result<util::ByteDigest> digest =
        util::DigestFile(shards::ShardPath(output_directory, id, shard_count));
    if (digest && digest->bytes() == shard.bytes && digest->Hash() == shard.xxh64) {
      finished[id] = shard;
    }
  }
  return finished;
}

util::Result<void> ShuffleScratch::RecordFinishedShard(std::uint64_t shard_id,
                                                       const shards::IndexedShard& shard) {
  const std::lock_guard<std::mutex> lock(list_mutex_);
  std::FILE* file = finished_list_.get();
  const bool written = std::fprintf(file, "%" PRIu64 "\t%" PRIu64 "\t%" PRIu64 "\t%016" PRIx64 "\n",
                                    shard_id, shard.records, shard.bytes, shard.xxh64) > 0 &&
                       std::fflush(file) == 0 && ::fsync(fileno(file)) == 0;
  if (!written) {
    return util::Fail("Failed to write scratch file: " + finished_list_path_.string());
  }
  return {};
}

util::Result<void> ShuffleScratch::Remove() {
  finished_list_.reset();
  std::error_code error;
  fs::remove_all(root_, error);
  if (error) return util::Fail("Failed to remove scratch: " + root_.string());
  return {};
}

}  // namespace boardmill::shuffle
