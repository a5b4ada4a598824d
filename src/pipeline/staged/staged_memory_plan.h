#pragma once

#include <cstdint>

#include "pipeline/staged/pipeline_stage.h"
#include "util/result.h"

namespace boardmill::pipeline {

// What the memory of a staged run depends on besides the sizes the plan chooses.
struct StagedMemoryInputs {
  std::uint64_t shard_count = 0;
  // --parse-batch-size as resolved; the plan may use fewer lines per batch, never more.
  std::uint64_t parse_batch_lines = 0;
  std::int32_t compression_level = 0;
  ElasticCounts pool_sizes{};
};

// The buffer sizes, queue capacities and budgets of one staged run. Level 0 holds the full
// sizes; every higher level holds less, at some cost in speed or compression ratio.
struct StagedMemoryPlan {
  std::uint64_t level = 0;
  // Readers: bytes per read and reads kept going per reader.
  std::uint64_t read_chunk_bytes = 0;
  std::uint64_t reads_in_flight = 0;
  // Items each decompress and each line-index thread's own queue holds; the shared parse and
  // compress queues.
  std::uint64_t decompress_queue_capacity = 0;
  std::uint64_t line_index_queue_capacity = 0;
  std::uint64_t parse_queue_capacity = 0;
  std::uint64_t compress_queue_capacity = 0;
  // The largest slab of decompressed text.
  std::uint64_t slab_bytes = 0;
  std::uint64_t parse_batch_lines = 0;
  // Records per frame of a shard file (a whole number of records), and the frames a writer
  // gathers before it writes them to its file.
  std::uint64_t block_bytes = 0;
  std::uint64_t write_threshold_bytes = 0;
  // Returned buffers the slab and parse-item pools keep for reuse.
  std::uint64_t free_slabs_kept = 0;
  std::uint64_t free_parse_items_kept = 0;
  // Parsed records waiting in the run slots beyond which readers pause, and the records that
  // settle in input order before the writers are woken to take them.
  std::uint64_t record_budget_bytes = 0;
  std::uint64_t announce_bytes = 0;
  // What the run may hold at once with these sizes, budget included.
  std::uint64_t needed_bytes = 0;
};

// The first level whose need fits `ceiling_mib`, with the record budget raised into what the
// ceiling leaves (at most 1 GiB). A ceiling below the last level's need is refused with the
// one-line message of run::CheckMemoryNeed.
util::Result<StagedMemoryPlan> PlanStagedMemory(const StagedMemoryInputs& inputs,
                                                std::uint64_t ceiling_mib);

}  // namespace boardmill::pipeline
