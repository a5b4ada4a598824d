#pragma once

#include <cstdint>

namespace boardmill::pipeline {

// The tunable settings of the parallel mode, copied by a worker when it starts a file so that a
// change made meanwhile only affects files started later.
struct WorkerKnobs {
  std::uint64_t active_workers = 0;
  std::uint64_t line_batch_size = 0;
  std::uint64_t records_per_flush = 0;
  std::int32_t compression_level = 0;

  friend bool operator==(const WorkerKnobs&, const WorkerKnobs&) = default;
};

}  // namespace boardmill::pipeline
