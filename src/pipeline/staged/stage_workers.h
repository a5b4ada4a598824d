#pragma once

#include <atomic>
#include <cstdint>

#include "pipeline/staged/staged_pipeline.h"

namespace boardmill::pipeline {

// The bodies of the staged pipeline's threads. Each runs until its input is closed and drained
// or the run stops, then runs its stage's exit step and ends in state "finished".

// File queue -> decompress input queue (file index mod decompress pool size).
void RunReaderThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Own input queue -> line-index input queue (file index mod line-index pool size).
void RunDecompressThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Own input queue -> parse queue; records each file's batch count in the ledger.
void RunLineIndexThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Parse queue -> run slots and ledger.
void RunParseThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Compress queue -> block slots.
void RunCompressThread(StagedPipeline& pipeline, std::uint64_t worker_index);
// Ledger and run slot of `shard` -> compress queue -> block slot -> the shard file.
void RunShardWriterThread(StagedPipeline& pipeline, std::uint64_t shard);

// An elastic stage thread of `stage`: `RunStageLoop` over `input` with the thread's statistics,
// passing the gate while throttled when `may_pass()` says so; `process(item, step)` does the
// stage's work, `on_exit()` runs when the loop ends, before the thread reports itself finished.
template <typename T, typename MayPass, typename Process, typename OnExit>
void RunStageThread(StagedPipeline& pipeline, PipelineStage stage, std::uint64_t worker_index,
                    BoundedQueue<T>& input, MayPass&& may_pass, Process&& process,
                    OnExit&& on_exit) {
  StageThreadStats stats(pipeline.Worker(stage, worker_index), pipeline.Stats(stage));
  RunStageLoop(pipeline.Gate(stage), worker_index, pipeline.stop, input, stats, may_pass, process);
  on_exit();
  stats.SetState(WorkerState::kFinished);
}

// The thread of a stage whose input queue is its own (decompress, line index). Files are bound
// to it by index, so nobody else can drain its queue: a throttled thread still takes its own
// pending input (and sees the end once the queue is closed). `worker.Process(item, step)` does
// the stage's work; the last of the stage's threads to end, counted down in `live_threads`,
// closes the next stage's input with `close_next()`.
template <typename T, typename Worker, typename CloseNext>
void RunOwnQueueStageThread(StagedPipeline& pipeline, PipelineStage stage,
                            std::uint64_t worker_index, StageQueue<T>& input,
                            std::atomic<std::uint64_t>& live_threads, Worker& worker,
                            CloseNext&& close_next) {
  RunStageThread(
      pipeline, stage, worker_index, input.queue,
      [&] { return input.IsClosed() || input.queue.Size() > 0; },
      [&](const T& item, StageStep& step) { return worker.Process(item, step); },
      [&] {
        if (live_threads.fetch_sub(1) == 1) close_next();
      });
}

}  // namespace boardmill::pipeline
