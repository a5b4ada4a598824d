#pragma once

#include <cstdint>

namespace boardmill::pipeline {

// How much work waits in front of each stage of the staged pipeline at one moment.
struct PipelineDepths {
  std::uint64_t file_queue = 0;
  std::uint64_t decompress = 0;  // over all decompress input queues
  std::uint64_t line_index = 0;  // over all line-index input queues
  std::uint64_t parse = 0;
  std::uint64_t compress = 0;
  std::uint64_t writer_backlog = 0;  // compressed blocks not yet taken by their writers
};

// One row of queue-stats.tsv.
struct QueueSampleRow {
  double elapsed_seconds = 0.0;
  PipelineDepths depths;
};

}  // namespace boardmill::pipeline
