#include "library/shard_read_ahead.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace boardmill::library {

namespace {

// ReadShardRecords with what it throws (memory running out) turned into its error: nothing may
// escape the loading thread.
util::Result<void> ReadShardRecordsGuarded(const DatasetShard& shard, bool verify,
                                           ShardBuffers& buffers) {
  try {
    return ReadShardRecords(shard, verify, buffers);
  } catch (const std::exception& error) {
    return util::Fail("Failed to read shard " + shard.path.string() + ": " + error.what());
  }
}

}  // namespace

ShardReadAhead::ShardReadAhead(const Dataset& dataset, std::vector<std::size_t> shards)
    : dataset_(dataset), shards_(std::move(shards)), loader_([this] { LoadShards(); }) {}

ShardReadAhead::~ShardReadAhead() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  loader_.join();
}

bool ShardReadAhead::WaitForRoom(util::UninitializedBytes& records) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock,
                [this] { return stopping_ || ready_.empty() || ready_bytes_ < kReadAheadBytes; });
  if (stopping_) return false;
  if (!spare_.empty()) {
    // The largest, which the coming shard is least likely to outgrow.
    auto largest = std::max_element(spare_.begin(), spare_.end(), [](const auto& a, const auto& b) {
      return a.capacity() < b.capacity();
    });
    records.swap(*largest);
    spare_.erase(largest);
  }
  return true;
}

void ShardReadAhead::LoadShards() {
  ShardBuffers buffers;
  for (const std::size_t shard : shards_) {
    if (!WaitForRoom(buffers.records)) return;
    util::Result<void> loaded =
        ReadShardRecordsGuarded(dataset_.shards()[shard], dataset_.verify(), buffers);
    const std::lock_guard lock(mutex_);
    if (!loaded) {
      ready_.push_back(std::move(loaded).TakeError());
      break;
    }
    ready_bytes_ += buffers.records.size();
    ready_.push_back(std::exchange(buffers.records, {}));
    changed_.notify_all();
  }
  const std::lock_guard lock(mutex_);
  loading_done_ = true;
  changed_.notify_all();
}

util::Result<bool> ShardReadAhead::Next(util::UninitializedBytes& records) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !ready_.empty() || loading_done_; });
  if (ready_.empty()) {
    records.clear();
    return false;
  }
  util::Result<util::UninitializedBytes> next = std::move(ready_.front());
  ready_.pop_front();
  if (!next) {
    records.clear();
    return std::move(next).TakeError();
  }
  ready_bytes_ -= next->size();
  if (records.capacity() != 0) spare_.push_back(std::move(records));
  records = std::move(*next);
  changed_.notify_all();
  return true;
}

}  // namespace boardmill::library
