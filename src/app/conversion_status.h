#pragma once

#include <optional>
#include <string>

#include "app/status_text.h"
#include "pipeline/run_progress.h"

namespace boardmill::app {

// The status line of a conversion, read from the counters its runner keeps: files, compressed
// input, positions and invalid lines while converting; shards merged once a parallel run merges.
class ConversionStatus {
 public:
  explicit ConversionStatus(const pipeline::RunProgress& progress) : progress_(progress) {}

  // Called by the status line's thread only: it keeps its estimates and when it first saw the
  // merge.
  std::string Compose(double elapsed_seconds);

 private:
  std::string ComposeConverting(double elapsed_seconds);
  std::string ComposeMerging(double elapsed_seconds);

  const pipeline::RunProgress& progress_;
  TimeLeftEstimate converting_left_;
  TimeLeftEstimate merging_left_;
  std::optional<double> merge_seen_at_;  // elapsed seconds
};

}  // namespace boardmill::app
