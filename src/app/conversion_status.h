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

  // Called by the status line's thread only: it keeps its estimates.
  std::string Compose(double elapsed_seconds);

 private:
  std::string ComposeConverting(double elapsed_seconds);
  std::string ComposeMerging(double elapsed_seconds);

  const pipeline::RunProgress& progress_;
  TimeLeftEstimate converting_left_;
  PhaseTimeLeft merging_left_;
};

}  // namespace boardmill::app
