#include "library/shard_read_ahead.h"

#include <utility>

namespace boardmill::library {

ShardReadAhead::ShardReadAhead(const Dataset& dataset, std::vector<std::size_t> shards)
    : dataset_(dataset), shards_(std::move(shards)) {}

ShardReadAhead::~ShardReadAhead() {
  // Before buffers_ goes, which the load in flight writes to.
  if (loading_.valid()) loading_.wait();
}

void ShardReadAhead::StartNextLoad() {
  if (next_shard_ == shards_.size()) return;
  const DatasetShard& shard = dataset_.shards()[shards_[next_shard_]];
  loading_ = std::async(std::launch::async, [this, &shard, verify = dataset_.verify()] {
    return ReadShardRecords(shard, verify, buffers_);
  });
  // Counted only once the thread started: when it cannot be, the exception goes to the caller
  // and a later call tries the same shard again rather than skipping it.
  ++next_shard_;
}

util::Result<bool> ShardReadAhead::Next(util::UninitializedBytes& records) {
  if (!loading_.valid()) StartNextLoad();
  if (!loading_.valid()) {
    records.clear();
    return false;
  }
  util::Result<void> loaded = loading_.get();
  if (!loaded) {
    records.clear();
    return std::move(loaded).TakeError();
  }
  records.swap(buffers_.records);
  StartNextLoad();
  return true;
}

}  // namespace boardmill::library
