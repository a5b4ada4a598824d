#include "chess/packed_sfen.h"
#include "compression/block_compressor.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

// Compresses one block into one frame at the end of the writer's output buffer and hands both
// buffers back to its shard's writer.
bool CompressJobBlock(StagedPipeline& pipeline, CompressJob job, StageStep& step) {
  const util::Result<std::uint64_t> frame_bytes =
      compression::AppendCompressedBlock(job.raw, pipeline.options.compression_level, job.output);
  if (!frame_bytes) {
    pipeline.ReportFailure(frame_bytes.error());
    return false;
  }
  const std::uint64_t raw_bytes = job.raw.size();
  const std::uint64_t records = raw_bytes / chess::kPackedSfenSize;
  const std::uint64_t compressed_bytes = *frame_bytes;
  pipeline.block_slots[job.shard].Put(job.key,
                                      CompressedBlock{std::move(job.output), std::move(job.raw)});

  WorkerStats& worker = step.stats().worker();
  StageStats& stage = step.stats().stage();
  worker.AddBatches(1);
  worker.AddItemsIn(records);
  worker.AddItemsOut(records);
  worker.AddBytesIn(raw_bytes);
  worker.AddBytesOut(compressed_bytes);
  worker.RecordBatchSize(records, raw_bytes);
  stage.AddBatches(1);
  stage.AddItemsIn(records);
  stage.AddItemsOut(records);
  stage.AddBytesIn(raw_bytes);
  stage.AddBytesOut(compressed_bytes);
  pipeline.totals.Add({.compress_seconds = step.Finish()});
  return true;
}

}  // namespace

void RunCompressThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  RunStageThread(
      pipeline, PipelineStage::kCompress, worker_index, pipeline.compress_queue.queue,
      // Once parsing has ended, every stage before this one is done and the whole pool may
      // work: the writers then flush every shard's last block at once, often much of the
      // run's compression, which throttled threads would leave to the active few.
      [&] {
        return pipeline.live_parsers.load() == 0 ||
               (pipeline.compress_queue.IsClosed() && pipeline.compress_queue.queue.Size() == 0);
      },
      [&](CompressJob job, StageStep& step) {
        return CompressJobBlock(pipeline, std::move(job), step);
      },
      [] {});
}

}  // namespace boardmill::pipeline
