#include "pipeline/parallel/worker_memory.h"

#include <algorithm>

#include "compression/zstd_frame_compressor.h"
#include "compression/zstd_line_reader.h"
#include "compression/zstd_memory.h"
#include "pipeline/shard_record_buffer.h"

namespace boardmill::pipeline {

namespace {

// Larger budgets make longer frames, which compress a little better, but past this the gain is
// small and a worker's memory keeps growing.
constexpr std::uint64_t kMaxRecordBudget = std::uint64_t{64} << 20;
constexpr std::uint64_t kMinRecordBudget = std::uint64_t{8} << 20;
// The autotuner may raise the line batch size to this.
constexpr std::uint64_t kAutotuneMaxLineBatch = 32768;
// The C streams of a task's input, fragment and reject rows.
constexpr std::uint64_t kStreamBuffers = 3 * (std::uint64_t{64} << 10);

std::uint64_t FloorBudget(const ConversionOptions& options) {
  return std::max(kMinRecordBudget,
                  ShardRecordBuffer::MinimumBudgetBytes(options.output_shard_count));
}

std::uint64_t FixedBytes(const ConversionOptions& options) {
  const std::uint64_t batch_lines =
      std::max(options.line_batch_size, options.enable_autotune ? kAutotuneMaxLineBatch : 1);
  return compression::LineReaderMemoryBytes() +
         batch_lines * sizeof(compression::ZstdLineBatchEntry) +
         compression::ZstdFrameCompressor::kOutputBufferBytes +
         compression::CompressionStreamMemoryBytes(options.compression_level, kMaxRecordBudget) +
         kStreamBuffers;
}

}  // namespace

std::uint64_t MinimumWorkerMemoryBytes(const ConversionOptions& options) {
  return FixedBytes(options) + FloorBudget(options);
}

WorkerMemoryPlan PlanWorkerMemory(const ConversionOptions& options, std::uint64_t ceiling_bytes,
                                  std::uint64_t wanted) {
  WorkerMemoryPlan plan;
  plan.fixed_bytes = FixedBytes(options);
  plan.memory_worker_cap = ceiling_bytes / MinimumWorkerMemoryBytes(options);
  plan.workers = std::min(std::max<std::uint64_t>(wanted, 1), plan.memory_worker_cap);
  const std::uint64_t share = plan.workers == 0 ? 0 : ceiling_bytes / plan.workers;
  plan.record_budget_bytes =
      std::clamp(share > plan.fixed_bytes ? share - plan.fixed_bytes : 0, FloorBudget(options),
                 std::max(kMaxRecordBudget, FloorBudget(options)));
  return plan;
}

}  // namespace boardmill::pipeline
