#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::io {
class MpiJob;
}

namespace boardmill::shuffle {

// The processes one shuffle runs in: the ranks of an MPI job, or this process alone (no job).
// Work is divided by a fixed rule, an input or output shard to rank (shard mod ranks), so the
// ranks need to talk only between phases, from their main threads.
class ShuffleRanks {
 public:
  explicit ShuffleRanks(const io::MpiJob* job);

  std::uint64_t rank() const { return rank_; }
  std::uint64_t size() const { return size_; }
  bool IsFirst() const { return rank_ == 0; }
  // Whether shard `id` (input or output) is this rank's to do.
  bool Owns(std::uint64_t id) const { return id % size_ == rank_; }

  // Every rank's outcome of a step, agreed: the first failure by rank, on every rank. Each rank
  // must call it at the same step.
  util::Result<void> Agree(util::Result<void> outcome) const;

  // Hands the shards this rank finished (id, what its file holds) and its count of finishing
  // passes to rank 0, which fills the shards in `shards`; the value is the passes of every rank
  // on rank 0, this rank's own elsewhere. Every rank calls it after the agreed end of the last
  // phase.
  std::uint64_t CollectShards(std::span<const std::uint64_t> finished_here, std::uint64_t passes,
                              std::vector<shards::IndexedShard>& shards) const;

 private:
  const io::MpiJob* job_;
  std::uint64_t rank_ = 0;
  std::uint64_t size_ = 1;
};

}  // namespace boardmill::shuffle
