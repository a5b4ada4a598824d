#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boardmill/boardmill.h"
#include "library/dataset.h"
#include "library/shard_records.h"
#include "library/shuffle_random.h"
#include "util/result.h"

namespace boardmill::library {

// One (rank, worker) share of a dataset for one epoch: the shards s with s % world == rank,
// of those the i-th (in id order) when i % workers == worker. Without a shuffle buffer the
// records come in stored order; with one, the shards are read in an order drawn from the seed
// and epoch, and every record passes through a buffer of that many from which each next record
// is drawn at random.
class Reader {
 public:
  static util::Result<std::unique_ptr<Reader>> Open(const Dataset& dataset,
                                                    const boardmill_reader_options& options);

  // Copies up to `max_records` records into `records`; 0 at the end. After a failure every call
  // fails with the same message.
  util::Result<std::size_t> Next(std::uint8_t* records, std::size_t max_records);

 private:
  Reader(const Dataset& dataset, std::vector<std::size_t> shards, std::uint64_t shuffle_buffer,
         ShuffleRandom random);

  // True while records remain: loads shard after shard until one has records left; false at the
  // end of the share.
  util::Result<bool> HaveShardRecords();
  // The next record in stored order; nullptr at the end.
  util::Result<const std::uint8_t*> NextStoredRecord();
  util::Result<std::size_t> CopyStored(std::uint8_t* records, std::size_t max_records);
  util::Result<std::size_t> DrawShuffled(std::uint8_t* records, std::size_t max_records);
  util::Result<bool> LoadNextShard();

  const Dataset& dataset_;
  std::vector<std::size_t> shards_;  // in reading order
  std::size_t next_shard_ = 0;
  ShardBuffers shard_;            // the shard being read, in memory kept from shard to shard
  std::size_t shard_offset_ = 0;  // bytes of its records handed on
  const std::uint64_t shuffle_capacity_;  // records
  std::vector<std::uint8_t> shuffle_buffer_;
  ShuffleRandom random_;
  std::optional<std::string> failure_;
};

}  // namespace boardmill::library
