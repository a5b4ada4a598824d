#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <vector>

#include "library/dataset.h"
#include "library/shard_records.h"
#include "util/result.h"

namespace boardmill::library {

// Loads the shards of a list one after another, the next one on a thread of its own while the
// caller works through the current one, so that reading and inflating a shard overlaps with the
// caller's decoding instead of stalling it. At most one shard is in flight, into buffers only
// that load touches until the future hands them over; destroying the object waits for it, so a
// reader closed mid-shard leaves no thread behind.
class ShardReadAhead {
 public:
  ShardReadAhead(const Dataset& dataset, std::vector<std::size_t> shards);
  ShardReadAhead(const ShardReadAhead&) = delete;
  ShardReadAhead& operator=(const ShardReadAhead&) = delete;
  ~ShardReadAhead();

  // Swaps the next shard's records into `records` and starts loading the one after it into the
  // memory `records` held; false, and `records` empty, once every shard was handed out.
  util::Result<bool> Next(util::UninitializedBytes& records);

 private:
  void StartNextLoad();

  const Dataset& dataset_;
  const std::vector<std::size_t> shards_;    // in reading order
  std::size_t next_shard_ = 0;               // the next one to start loading
  ShardBuffers buffers_;                     // the load in flight's, or the next one's
  std::future<util::Result<void>> loading_;  // invalid when none is in flight
};

}  // namespace boardmill::library
