#pragma once

#include "pipeline/conversion_options.h"
#include "pipeline/conversion_summary.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The parallel mode: a pool of workers converts one input file at a time each into its own
// fragment directory, records every finished file in the run manifest (so that an interrupted
// run can resume), and the fragments are then concatenated, in file order, into the shards.
class ParallelConversionRunner {
 public:
  explicit ParallelConversionRunner(ConversionOptions options) : options_(std::move(options)) {}

  util::Result<ConversionSummary> Run() const;

 private:
  ConversionOptions options_;
};

util::Result<void> WriteParallelRunSummary(const ConversionOptions& options,
                                           const ConversionSummary& summary);

}  // namespace boardmill::pipeline
