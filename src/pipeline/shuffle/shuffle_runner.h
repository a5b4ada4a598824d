#pragma once

#include "pipeline/shuffle/shuffle_options.h"
#include "pipeline/shuffle/shuffle_summary.h"
#include "util/result.h"

namespace boardmill::shuffle {

// Shuffles the input directories into the output directory: checks everything it can before it
// changes anything, locks, spreads every input shard into scratch (phase 1), finishes every
// output shard from it (phase 2), then writes the index and run-summary.txt and removes the
// scratch. A failure leaves no run-summary.txt and no index, and the scratch for --resume.
util::Result<ShuffleSummary> RunShuffle(const ShuffleOptions& options);

}  // namespace boardmill::shuffle
