#pragma once

#include <cstdint>

#include "pipeline/shuffle/shuffle_options.h"
#include "util/result.h"

namespace boardmill::shuffle {

// How a shuffle shares its memory ceiling among its threads, phase by phase: while spreading,
// each thread holds a buffer per output shard; while finishing, each holds the entries of the
// shard (or the range of it) that it orders.
struct ShufflePlan {
  std::uint64_t spread_threads = 1;
  std::uint64_t buffer_entries = 0;  // per output shard and spreading thread
  std::uint64_t finish_threads = 1;
  std::uint64_t capacity_entries = 0;  // per finishing thread
};

// The plan for `options` whose memory ceiling and thread count are resolved (no 0 left to decide):
// as many threads as asked for (at most one per input shard, or per output shard) that the
// ceiling leaves room for; refused with one line when not even one thread fits.
util::Result<ShufflePlan> PlanShuffle(const ShuffleOptions& options, std::uint64_t input_shards);

// The finishing part of `plan`, once the largest output shard is known: as many threads as can
// each hold that shard whole, so that no shard needs ranges when the ceiling allows; when not even
// one can, as many as hold the least share, which then finish shards in ranges.
void PlanFinishing(const ShuffleOptions& options, std::uint64_t largest_shard_entries,
                   ShufflePlan& plan);

}  // namespace boardmill::shuffle
