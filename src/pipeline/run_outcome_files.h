#pragma once

#include <filesystem>
#include <span>

#include "pipeline/conversion_options.h"
#include "pipeline/shard_index.h"
#include "util/result.h"

namespace boardmill::pipeline {

// run-summary.txt and shard-index.json tell what a finished run wrote. Every conversion removes
// the ones an earlier run left before it writes a shard, so that a run that then fails or is
// interrupted cannot leave a directory that looks finished, or shards an old index describes.
util::Result<void> RemoveEarlierRunOutcome(const std::filesystem::path& directory);

// Once every shard is complete: the index of what was written, then, if the options ask for it,
// a check of every record. The summary, written last, follows.
util::Result<void> IndexAndVerifyShards(const ConversionOptions& options,
                                        std::span<const IndexedShard> shards);

}  // namespace boardmill::pipeline
