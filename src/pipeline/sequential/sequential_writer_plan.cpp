#include "pipeline/sequential/sequential_writer_plan.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "chess/packed_sfen.h"
#include "compression/zstd_frame_compressor.h"
#include "compression/zstd_line_reader.h"
#include "compression/zstd_memory.h"
#include "compression/zstd_stream_writer.h"
#include "pipeline/shard_record_buffer.h"
#include "run/memory_ceiling.h"
#include "shards/shard_router.h"

namespace boardmill::pipeline {

namespace {

// Larger budgets make longer frames, which compress better, but past this the gain is small.
constexpr std::uint64_t kMaxRecordBudget = std::uint64_t{256} << 20;

std::uint64_t RoutableShards(const ConversionOptions& options) {
  return std::min(options.output_shard_count, shards::kRoutingKeyCount);
}

std::string ShardDescription(const ConversionOptions& options) {
  return std::to_string(RoutableShards(options)) + " level-" +
         std::to_string(options.compression_level);
}

}  // namespace

std::uint64_t StreamWriterMemoryBytes(const ConversionOptions& options) {
  const std::uint64_t per_stream =
      compression::CompressionStreamMemoryBytes(options.compression_level, 0) +
      compression::ZstdStreamWriter::kOutputBufferBytes +
      options.records_per_flush * chess::kPackedSfenSize;
  return RoutableShards(options) * per_stream + compression::LineReaderMemoryBytes();
}

std::uint64_t FrameWriterMemoryBytes(const ConversionOptions& options, std::uint64_t budget_bytes) {
  return compression::LineReaderMemoryBytes() +
         compression::CompressionStreamMemoryBytes(options.compression_level, budget_bytes) +
         compression::ZstdFrameCompressor::kOutputBufferBytes + budget_bytes +
         options.output_shard_count * BUFSIZ;
}

util::Result<SequentialWriterPlan> PlanSequentialWriter(const ConversionOptions& options,
                                                        std::uint64_t ceiling_mib) {
  const std::uint64_t ceiling = run::MemoryCeilingBytes(ceiling_mib);
  if (StreamWriterMemoryBytes(options) <= ceiling) return SequentialWriterPlan{};
  const std::uint64_t smallest = ShardRecordBuffer::MinimumBudgetBytes(options.output_shard_count);
  std::uint64_t budget = std::max(kMaxRecordBudget, smallest);
  while (budget > smallest && FrameWriterMemoryBytes(options, budget) > ceiling) {
    budget = std::max(budget / 2, smallest);
  }
  util::Result<void> fits = run::CheckMemoryNeed(
      ceiling_mib, FrameWriterMemoryBytes(options, budget),
      "a sequential run writing " + ShardDescription(options) + " shards in frames");
  if (!fits) return std::move(fits).TakeError();
  return SequentialWriterPlan{SequentialWriter::kFrames, budget};
}

}  // namespace boardmill::pipeline
