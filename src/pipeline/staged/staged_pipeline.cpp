#include "pipeline/staged/staged_pipeline.h"

#include <algorithm>

namespace boardmill::pipeline {

namespace {

using namespace stage_index;  // NOLINT(google-build-using-namespace)

template <typename T>
std::vector<std::unique_ptr<StageQueue<T>>> MakeQueues(std::uint64_t count,
                                                       std::uint64_t capacity) {
  std::vector<std::unique_ptr<StageQueue<T>>> queues;
  queues.reserve(count);
  for (std::uint64_t index = 0; index < count; ++index) {
    queues.push_back(std::make_unique<StageQueue<T>>(capacity));
  }
  return queues;
}

template <typename T>
std::uint64_t TotalSize(const std::vector<std::unique_ptr<StageQueue<T>>>& queues) {
  std::uint64_t total = 0;
  for (const auto& queue : queues) total += queue->queue.Size();
  return total;
}

template <typename Value>
std::uint64_t TotalEntries(const ShardSlots<Value>& slots) {
  std::uint64_t total = 0;
  for (const ShardSlot<Value>& slot : slots) total += slot.Size();
  return total;
}

}  // namespace

StagedPipeline::StagedPipeline(const ConversionOptions& run_options,
                               std::vector<std::filesystem::path> input_files,
                               const StagePlan& stage_plan, const StagedMemoryPlan& memory_plan,
                               RejectLogger& reject_logger)
    : options(run_options),
      files(std::move(input_files)),
      router(run_options.output_shard_count),
      plan(stage_plan),
      memory(memory_plan),
      shard_count(router.shard_count()),
      rejects(reject_logger),
      progress(run_options.progress),
      slab_pool(memory_plan.free_slabs_kept),
      item_pool(memory_plan.free_parse_items_kept),
      file_queue(std::max<std::uint64_t>(files.size(), 1)),
      decompress_queues(MakeQueues<DecompressItem>(stage_plan.pool_sizes[kDecompress],
                                                   memory_plan.decompress_queue_capacity)),
      line_index_queues(MakeQueues<SlabItem>(stage_plan.pool_sizes[kLineIndex],
                                             memory_plan.line_index_queue_capacity)),
      parse_queue(memory_plan.parse_queue_capacity),
      compress_queue(memory_plan.compress_queue_capacity),
      ledger(files.size(), std::min(shard_count, shards::kRoutingKeyCount),
             memory_plan.record_budget_bytes, memory_plan.announce_bytes),
      file_stops(files.size()),
      run_slots(shard_count),
      block_slots(shard_count),
      written_shards(shard_count) {
  for (std::size_t stage = 0; stage < kElasticStageCount; ++stage) {
    worker_stats[stage] = std::vector<WorkerStats>(plan.pool_sizes[stage]);
    gates[stage] = std::make_unique<StageGate>(plan.initial_active[stage]);
  }
  worker_stats[kWrite] = std::vector<WorkerStats>(shard_count);
  for (std::uint64_t file = 0; file < files.size(); ++file) file_queue.Push(file);
  file_queue.Close();
}

void StagedPipeline::ReportFailure(std::string message) {
  failure.Record(std::move(message));
  stop.store(true, std::memory_order_release);
  file_queue.Close();
  for (auto& queue : decompress_queues) queue->Close();
  for (auto& queue : line_index_queues) queue->Close();
  parse_queue.Close();
  compress_queue.Close();
  ledger.Abort();
  for (auto& gate : gates) gate->WakeAll();
  for (auto& slot : run_slots) slot.WakeAll();
  for (auto& slot : block_slots) slot.WakeAll();
  finished_or_stopped.Raise();
}

void StagedPipeline::CloseDecompressInputs() {
  for (auto& queue : decompress_queues) queue->Close();
  Gate(PipelineStage::kDecompress).WakeAll();
}

void StagedPipeline::CloseLineIndexInputs() {
  for (auto& queue : line_index_queues) queue->Close();
  Gate(PipelineStage::kLineIndex).WakeAll();
}

void StagedPipeline::CloseParseQueue() {
  parse_queue.Close();
  Gate(PipelineStage::kParse).WakeAll();
}

void StagedPipeline::CloseCompressQueue() {
  compress_queue.Close();
  Gate(PipelineStage::kCompress).WakeAll();
}

void StagedPipeline::MarkPipelineFinished() {
  pipeline_finished.store(true, std::memory_order_release);
  for (auto& gate : gates) gate->WakeAll();
  finished_or_stopped.Raise();
}

PipelineDepths StagedPipeline::ReadDepths() const {
  PipelineDepths depths;
  depths.file_queue = file_queue.Size();
  depths.decompress = TotalSize(decompress_queues);
  depths.line_index = TotalSize(line_index_queues);
  depths.parse = parse_queue.queue.Size();
  depths.compress = compress_queue.queue.Size();
  depths.writer_backlog = TotalEntries(block_slots);
  return depths;
}

ElasticCounts StagedPipeline::ActiveCounts() const {
  ElasticCounts active{};
  for (std::size_t stage = 0; stage < kElasticStageCount; ++stage) {
    active[stage] = gates[stage]->Active();
  }
  return active;
}

}  // namespace boardmill::pipeline
