#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/bounded_queue.h"
#include "pipeline/conversion_options.h"
#include "pipeline/first_failure.h"
#include "pipeline/reject_logger.h"
#include "pipeline/stage_stats.h"
#include "pipeline/staged/batch_ledger.h"
#include "pipeline/staged/controller_row.h"
#include "pipeline/staged/file_stop_flags.h"
#include "pipeline/staged/pipeline_depths.h"
#include "pipeline/staged/pipeline_stage.h"
#include "pipeline/staged/recycling_pool.h"
#include "pipeline/staged/shard_slots.h"
#include "pipeline/staged/shared_string_pool.h"
#include "pipeline/staged/stage_gate.h"
#include "pipeline/staged/stage_items.h"
#include "pipeline/staged/stage_plan.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/staged_memory_plan.h"
#include "pipeline/staged/staged_run_totals.h"
#include "pipeline/staged/wake_signal.h"
#include "pipeline/staged/worker_stats.h"
#include "shards/shard_index.h"
#include "shards/shard_router.h"
#include "util/stopwatch.h"

namespace boardmill::pipeline {

using ParseItemPool = RecyclingPool<ParseItem>;
using ParseItemHandle = std::shared_ptr<ParseItem>;

// A bounded queue that also remembers, lock-free, that it has been closed, so a gate can let a
// throttled thread through to see the end.
template <typename T>
struct StageQueue {
  explicit StageQueue(std::uint64_t capacity) : queue(capacity) {}

  void Close() {
    closed.store(true, std::memory_order_release);
    queue.Close();
  }
  bool IsClosed() const { return closed.load(std::memory_order_acquire); }

  BoundedQueue<T> queue;
  std::atomic<bool> closed{false};
};

// Every object the threads of one staged run share. Built by the runner, which owns it and
// joins every thread before it goes away. Members are declared so that the pools outlive every
// item that may still hold one of their objects.
struct StagedPipeline {
  StagedPipeline(const ConversionOptions& options, std::vector<std::filesystem::path> files,
                 const StagePlan& plan, const StagedMemoryPlan& memory, RejectLogger& rejects);
  StagedPipeline(const StagedPipeline&) = delete;
  StagedPipeline& operator=(const StagedPipeline&) = delete;

  // The first message wins. Stops the run: sets the stop flag, closes every queue, aborts the
  // ledger and wakes every gate, slot and sleeper, so that every thread finishes.
  void ReportFailure(std::string message);
  bool Stopped() const { return stop.load(std::memory_order_acquire); }

  // Exit steps of the stages: each closes the next stage's input and wakes its gate.
  void CloseDecompressInputs();
  void CloseLineIndexInputs();
  void CloseParseQueue();
  void CloseCompressQueue();

  // Set by the runner once the five stage pools have been joined.
  void MarkPipelineFinished();

  PipelineDepths ReadDepths() const;
  double ElapsedSeconds() const { return run_clock.ElapsedSeconds(); }

  StageGate& Gate(PipelineStage stage) { return *gates[StageIndex(stage)]; }

  // Hands `item` to the own input queue of a decompress or line-index thread (`stage`) and wakes
  // the stage's gate: only that thread can take the item, and it may be held at the gate.
  template <typename T>
  bool PushToBoundThread(PipelineStage stage, StageQueue<T>& target, T item, StageStep& step) {
    const bool pushed = step.PushTo(target.queue, std::move(item));
    if (pushed) Gate(stage).WakeAll();
    return pushed;
  }
  StageStats& Stats(PipelineStage stage) { return stage_stats[StageIndex(stage)]; }
  WorkerStats& Worker(PipelineStage stage, std::uint64_t index) {
    return worker_stats[StageIndex(stage)][index];
  }
  ElasticCounts ActiveCounts() const;

  const ConversionOptions& options;
  const std::vector<std::filesystem::path> files;
  const shards::ShardRouter router;
  const StagePlan plan;
  const StagedMemoryPlan memory;
  const std::uint64_t shard_count;
  RejectLogger& rejects;
  // The caller's progress counters; null when nobody watches.
  RunProgress* const progress;

  std::atomic<bool> stop{false};
  std::atomic<bool> pipeline_finished{false};
  WakeSignal finished_or_stopped;
  FirstFailure failure;

  SharedStringPool slab_pool;
  ParseItemPool item_pool;

  BoundedQueue<std::uint64_t> file_queue;
  std::vector<std::unique_ptr<StageQueue<DecompressItem>>> decompress_queues;
  std::vector<std::unique_ptr<StageQueue<SlabItem>>> line_index_queues;
  StageQueue<ParseItemHandle> parse_queue;
  StageQueue<CompressJob> compress_queue;

  BatchLedger ledger;
  FileStopFlags file_stops;
  ShardSlots<ShardRun> run_slots;
  ShardSlots<CompressedBlock> block_slots;
  // Per shard id, what its writer put in the file: each writer fills its own slot, which the
  // runner reads once the writers are joined.
  std::vector<shards::IndexedShard> written_shards;

  std::array<StageStats, kPipelineStageCount> stage_stats;
  std::array<std::vector<WorkerStats>, kPipelineStageCount> worker_stats;
  std::array<std::unique_ptr<StageGate>, kElasticStageCount> gates;

  std::atomic<std::uint64_t> live_readers{0};
  std::atomic<std::uint64_t> live_decompressors{0};
  std::atomic<std::uint64_t> live_line_indexers{0};
  std::atomic<std::uint64_t> live_parsers{0};
  std::atomic<std::uint64_t> live_writers{0};

  StagedRunTotals totals;

  std::mutex controller_rows_mutex;
  std::vector<ControllerRow> controller_rows;
  std::mutex queue_rows_mutex;
  std::vector<QueueSampleRow> queue_rows;

  const util::Stopwatch run_clock;
};

}  // namespace boardmill::pipeline
