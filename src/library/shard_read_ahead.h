#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "library/dataset.h"
#include "library/shard_records.h"
#include "util/result.h"

namespace boardmill::library {

// Loads the shards of a list in order on a thread of its own, ahead of the caller, so that
// reading and inflating shards overlaps with the caller's decoding instead of stalling it. It
// runs ahead by records, not by shards: shards smaller than a caller's batch are passed several
// per call, and one shard ahead would leave the caller waiting on each. Records memory handed
// back by the caller is reused for later shards, so that they land in pages already mapped.
// Destroying the object stops the thread after the shard it is loading, so a reader closed
// mid-read leaves no thread behind.
class ShardReadAhead {
 public:
  ShardReadAhead(const Dataset& dataset, std::vector<std::size_t> shards);
  ShardReadAhead(const ShardReadAhead&) = delete;
  ShardReadAhead& operator=(const ShardReadAhead&) = delete;
  ~ShardReadAhead();

  // Moves the next shard's records into `records`, keeping the memory `records` held for a
  // later shard; false, and `records` empty, once every shard was handed out. A shard that
  // fails gives its error after every shard before it was handed out.
  util::Result<bool> Next(util::UninitializedBytes& records);

 private:
  // The records that may wait, loaded, for the caller: a few batches' worth, enough to keep the
  // caller fed through many small shards, and small so that little memory is touched beyond
  // what the caller holds. A larger shard still loads, alone.
  static constexpr std::size_t kReadAheadBytes = std::size_t{4} << 20;

  void LoadShards();
  // Waits for room, then gives `records` the memory of a spare buffer when there is one; false
  // once the object is being destroyed.
  bool WaitForRoom(util::UninitializedBytes& records);

  const Dataset& dataset_;
  const std::vector<std::size_t> shards_;  // in reading order

  std::mutex mutex_;  // guards the members up to loader_
  std::condition_variable changed_;
  std::deque<util::Result<util::UninitializedBytes>> ready_;  // loaded, in order; an error last
  std::size_t ready_bytes_ = 0;
  std::vector<util::UninitializedBytes> spare_;  // memory the caller handed back
  bool loading_done_ = false;
  bool stopping_ = false;

  std::thread loader_;  // last: started once everything it uses exists
};

}  // namespace boardmill::library
