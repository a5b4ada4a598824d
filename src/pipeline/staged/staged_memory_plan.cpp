#include "pipeline/staged/staged_memory_plan.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string>

#include "compression/text_line_batch.h"
#include "compression/zstd_memory.h"
#include "pipeline/line_encoder.h"
#include "run/memory_ceiling.h"
#include "shards/shard_router.h"

namespace boardmill::pipeline {

namespace {

using namespace stage_index;  // NOLINT(google-build-using-namespace)

constexpr std::uint64_t kKibibyte = std::uint64_t{1} << 10;
constexpr std::uint64_t kUnlimitedBatch = ~std::uint64_t{0};

// One level of the plan: the sizes it allows. Levels after the first trade speed first (reads,
// queues), then compression ratio (smaller frames), then per-batch work (fewer lines per batch).
struct PlanLevel {
  std::uint64_t read_chunk_bytes;
  std::uint64_t slab_bytes;
  std::uint64_t reads_in_flight;
  bool short_queues;
  std::uint64_t block_bytes;
  std::uint64_t batch_lines_cap;
};

constexpr std::array<PlanLevel, 8> kLevels = {{
    {8 * run::kMebibyte, 8 * run::kMebibyte, 4, false, 4 * run::kMebibyte, kUnlimitedBatch},
    {run::kMebibyte, run::kMebibyte, 2, true, 4 * run::kMebibyte, kUnlimitedBatch},
    {run::kMebibyte, run::kMebibyte, 2, true, run::kMebibyte, kUnlimitedBatch},
    {run::kMebibyte, run::kMebibyte, 2, true, 256 * kKibibyte, kUnlimitedBatch},
    {512 * kKibibyte, 512 * kKibibyte, 2, true, 64 * kKibibyte, kUnlimitedBatch},
    {256 * kKibibyte, 256 * kKibibyte, 2, true, 64 * kKibibyte, 65536},
    {256 * kKibibyte, 256 * kKibibyte, 2, true, 64 * kKibibyte, 16384},
    {256 * kKibibyte, 256 * kKibibyte, 2, true, 64 * kKibibyte, 4096},
}};

// Queue capacity of the short-queue levels: one item being handed on while one waits.
constexpr std::uint64_t kShortQueueCapacity = 2;
// Planning figures for input the plan cannot see. FEN lines are rarely longer than 90 bytes;
// inputs compressed at usual levels expand to at most about 8 bytes of records per compressed
// byte (about 2 at level 3); a line of text yields at most 2 bytes of record per byte.
constexpr std::uint64_t kLineTextBytes = 96;
constexpr std::uint64_t kRecordBytesPerCompressedByte = 8;
constexpr std::uint64_t kRecordBytesPerTextByte = 2;
// The stack a thread touches and, for a writer, its file stream's buffer.
constexpr std::uint64_t kThreadBytes = 64 * kKibibyte;
constexpr std::uint64_t kMinRecordBudgetBytes = 4 * run::kMebibyte;
constexpr std::uint64_t kMaxRecordBudgetBytes = std::uint64_t{1} << 30;
constexpr std::uint64_t kMaxAnnounceBytes = 8 * run::kMebibyte;
constexpr std::uint64_t kMaxWriteThresholdBytes = run::kMebibyte;
// Besides the elastic pools: the queue sampler and the stage controller.
constexpr std::uint64_t kHelperThreads = 2;

StagedMemoryPlan SizesFor(const StagedMemoryInputs& inputs, std::uint64_t level_index) {
  const PlanLevel& level = kLevels[level_index];
  const ElasticCounts& pools = inputs.pool_sizes;
  StagedMemoryPlan plan;
  plan.level = level_index;
  plan.read_chunk_bytes = level.read_chunk_bytes;
  plan.reads_in_flight = level.reads_in_flight;
  plan.slab_bytes = level.slab_bytes;
  plan.decompress_queue_capacity =
      level.short_queues ? kShortQueueCapacity : std::max<std::uint64_t>(2 * pools[kReader], 8);
  plan.line_index_queue_capacity =
      level.short_queues ? kShortQueueCapacity : std::max<std::uint64_t>(2 * pools[kDecompress], 8);
  plan.parse_queue_capacity =
      level.short_queues ? kShortQueueCapacity : std::max<std::uint64_t>(4 * pools[kLineIndex], 16);
  // A writer has at most one block in flight, so jobs never outnumber the writers and need no
  // tighter bound here; their buffers are counted with the writers.
  plan.compress_queue_capacity = std::max<std::uint64_t>(2 * pools[kCompress], 16);
  plan.parse_batch_lines =
      std::min(std::max<std::uint64_t>(inputs.parse_batch_lines, 1), level.batch_lines_cap);
  plan.block_bytes = level.block_bytes;
  plan.write_threshold_bytes = std::min(level.block_bytes, kMaxWriteThresholdBytes);
  return plan;
}

// Line batches that can exist at once: one being filled per file in progress on a line-index
// thread (each has at most one file per reader in progress), one being handed on per line-index
// thread, those in the parse queue and one per parse thread.
std::uint64_t BatchesAlive(const StagedMemoryInputs& inputs, const StagedMemoryPlan& plan) {
  const ElasticCounts& pools = inputs.pool_sizes;
  return pools[kLineIndex] * pools[kReader] + pools[kLineIndex] + plan.parse_queue_capacity +
         pools[kParse];
}

// Text a batch keeps alive: its lines, and the slabs its first and last line share with others.
std::uint64_t BatchBytes(const StagedMemoryPlan& plan) {
  return plan.parse_batch_lines * (kLineTextBytes + sizeof(TextLineReference)) +
         2 * plan.slab_bytes;
}

// Everything but the record budget, which takes what is left.
std::uint64_t NeedBesidesRecordBudget(const StagedMemoryInputs& inputs,
                                      const StagedMemoryPlan& plan) {
  const ElasticCounts& pools = inputs.pool_sizes;
  const std::uint64_t readers = pools[kReader];
  const std::uint64_t decompressors = pools[kDecompress];
  const std::uint64_t walkers = std::min(inputs.shard_count, shards::kRoutingKeyCount);

  const std::uint64_t reading = readers * plan.reads_in_flight * plan.read_chunk_bytes;
  const std::uint64_t queued_chunks =
      decompressors * plan.decompress_queue_capacity * plan.read_chunk_bytes;
  const std::uint64_t decoders =
      decompressors * readers *
      compression::DecompressionStreamMemoryBytes(compression::kTypicalWindowBytes);
  const std::uint64_t slabs =
      (decompressors + pools[kLineIndex] * plan.line_index_queue_capacity) * plan.slab_bytes;
  const std::uint64_t batches_alive = BatchesAlive(inputs, plan);
  const std::uint64_t batches = batches_alive * BatchBytes(plan);
  const std::uint64_t parse_scratch =
      pools[kParse] * plan.parse_batch_lines * (sizeof(EncodedLine) + chess::kPackedSfenSize);
  // Readers pause when the budget is spent, but what has passed them still becomes records.
  const std::uint64_t records_past_readers =
      kRecordBytesPerCompressedByte * queued_chunks + kRecordBytesPerTextByte * slabs +
      chess::kPackedSfenSize * plan.parse_batch_lines * batches_alive;
  const std::uint64_t frame_bound = compression::CompressedBlockBound(plan.block_bytes);
  // Shards above the routing key's range never receive a record and hold no buffers.
  const std::uint64_t writers =
      walkers * (plan.block_bytes + plan.write_threshold_bytes + frame_bound);
  const std::uint64_t compressors =
      pools[kCompress] *
      (compression::BlockCompressionMemoryBytes(inputs.compression_level, plan.block_bytes) +
       frame_bound);
  const std::uint64_t threads =
      (inputs.shard_count + std::accumulate(pools.begin(), pools.end(), std::uint64_t{0}) +
       kHelperThreads) *
      kThreadBytes;
  return reading + queued_chunks + decoders + slabs + batches + parse_scratch +
         records_past_readers + writers + compressors + threads;
}

// Alive at once: one slab being filled per decompress thread, those queued for the line-index
// threads, and those the batches alive lie in.
std::uint64_t SlabsAlive(const StagedMemoryInputs& inputs, const StagedMemoryPlan& plan) {
  const ElasticCounts& pools = inputs.pool_sizes;
  const std::uint64_t text_slabs = plan.parse_batch_lines * kLineTextBytes / plan.slab_bytes + 2;
  return pools[kDecompress] + pools[kLineIndex] * plan.line_index_queue_capacity +
         BatchesAlive(inputs, plan) * text_slabs;
}

void FinishPlan(const StagedMemoryInputs& inputs, std::uint64_t ceiling_bytes, std::uint64_t need,
                StagedMemoryPlan& plan) {
  const ElasticCounts& pools = inputs.pool_sizes;
  plan.record_budget_bytes =
      std::clamp(ceiling_bytes - need, kMinRecordBudgetBytes, kMaxRecordBudgetBytes);
  // An eighth of the budget or less, so that readers held back by the budget always leave the
  // writers records they have been told about (see BatchLedger).
  plan.announce_bytes = std::min(plan.record_budget_bytes / 8, kMaxAnnounceBytes);
  plan.free_slabs_kept = SlabsAlive(inputs, plan);
  plan.free_parse_items_kept = pools[kLineIndex] + plan.parse_queue_capacity + pools[kParse];
  plan.needed_bytes = need + plan.record_budget_bytes;
}

std::string DescribeRun(const StagedMemoryInputs& inputs) {
  const ElasticCounts& pools = inputs.pool_sizes;
  return "a staged run writing " + std::to_string(inputs.shard_count) + " shards with " +
         std::to_string(std::accumulate(pools.begin(), pools.end(), std::uint64_t{0})) +
         " stage threads";
}

}  // namespace

util::Result<StagedMemoryPlan> PlanStagedMemory(const StagedMemoryInputs& inputs,
                                                std::uint64_t ceiling_mib) {
  const std::uint64_t ceiling_bytes = run::MemoryCeilingBytes(ceiling_mib);
  std::uint64_t need = 0;
  for (std::uint64_t level = 0; level < kLevels.size(); ++level) {
    StagedMemoryPlan plan = SizesFor(inputs, level);
    need = NeedBesidesRecordBudget(inputs, plan);
    if (need + kMinRecordBudgetBytes <= ceiling_bytes) {
      FinishPlan(inputs, ceiling_bytes, need, plan);
      return plan;
    }
  }
  util::Result<void> refused =
      run::CheckMemoryNeed(ceiling_mib, need + kMinRecordBudgetBytes, DescribeRun(inputs));
  return std::move(refused).TakeError();
}

}  // namespace boardmill::pipeline
