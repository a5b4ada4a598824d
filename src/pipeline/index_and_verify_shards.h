#pragma once

#include <span>

#include "pipeline/conversion_options.h"
#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Once every shard of a conversion is complete: the index of what was written, then, if the
// options ask for it, a check of every record. The summary, written last, follows.
util::Result<void> IndexAndVerifyShards(const ConversionOptions& options,
                                        std::span<const shards::IndexedShard> shards);

}  // namespace boardmill::pipeline
