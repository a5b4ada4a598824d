#pragma once

#include <atomic>
#include <cstdint>

#include "pipeline/parallel/worker_knobs.h"

namespace boardmill::pipeline {

// The tunable values workers read when they start a task; the autotuner is their only writer.
struct WorkerKnobCells {
  std::atomic<std::uint64_t> active_workers{0};
  std::atomic<std::uint64_t> line_batch_size{0};
  std::atomic<std::uint64_t> records_per_flush{0};
  std::atomic<std::int32_t> compression_level{0};

  explicit WorkerKnobCells(const WorkerKnobs& initial)
      : active_workers(initial.active_workers),
        line_batch_size(initial.line_batch_size),
        records_per_flush(initial.records_per_flush),
        compression_level(initial.compression_level) {}

  WorkerKnobs Read() const {
    return {active_workers.load(), line_batch_size.load(), records_per_flush.load(),
            compression_level.load()};
  }
};

}  // namespace boardmill::pipeline
