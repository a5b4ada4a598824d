#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "shards/shard_index.h"
#include "util/result.h"
#include "util/unique_file.h"

namespace boardmill::shuffle {

// The scratch of one shuffle, "shuffle" in the scratch directory: the spread files, what the run
// is ("settings": shard count, seed, deduplication and the input shards it read) and the list of
// output shards already finished. With them a run that was stopped continues where it was: a
// spread file under its own name is a spread input shard, and a listed shard whose file still
// holds what the list says is a finished one.
class ShuffleScratch {
 public:
  ShuffleScratch(const std::filesystem::path& scratch_directory, std::string settings);

  // Without `resume`, forgets whatever an earlier run left. With it, keeps what a run of the
  // same settings left and refuses the scratch of a run of other settings. Done once, by the
  // first rank, before any rank opens its list.
  util::Result<void> Prepare(bool resume);
  // Opens the list of finished shards this rank adds to (one per rank, so that ranks never
  // write to one file).
  util::Result<void> OpenFinishedList(std::uint64_t rank);
  // Whether this process sees the scratch the first rank prepared: its settings are there.
  bool HoldsThisRun() const;

  std::filesystem::path SpreadPath(std::uint64_t input_sequence) const;
  bool IsSpread(std::uint64_t input_sequence) const;

  // The shards an earlier run (of any number of ranks) finished whose files in
  // `output_directory` are as it left them.
  std::map<std::uint64_t, shards::IndexedShard> FinishedShards(
      const std::filesystem::path& output_directory, std::uint64_t shard_count) const;
  // Adds a shard to the list, flushed to the disk before it returns; safe from any thread.
  util::Result<void> RecordFinishedShard(std::uint64_t shard_id, const shards::IndexedShard& shard);

  // Removes the shuffle's scratch, as a successful run does unless told to keep it.
  util::Result<void> Remove();

 private:
  std::filesystem::path root_;
  std::string settings_;
  std::mutex list_mutex_;
  std::filesystem::path finished_list_path_;
  util::UniqueFile finished_list_;
};

}  // namespace boardmill::shuffle
