#pragma once

#include <cstdint>

namespace boardmill::pipeline {

// The ranges within which the autotuner may move the parallel mode's knobs, and how often it
// looks. Knobs may start outside a range; the tuner only moves them toward its ends.
struct AutotuneLimits {
  std::uint64_t min_workers = 1;
  std::uint64_t max_workers = 1;
  std::uint64_t min_line_batch_size = 256;
  std::uint64_t max_line_batch_size = 32768;
  std::uint64_t min_records_per_flush = 256;  // carried for completeness; no rule lowers the flush
  std::uint64_t max_records_per_flush = 32768;
  std::int32_t min_compression_level = 1;
  std::int32_t max_compression_level = 22;  // carried for completeness; no rule raises the level
  double tuning_interval_seconds = 1.0;
};

}  // namespace boardmill::pipeline
