#include "pipeline/staged/queue_sampler.h"

#include <thread>

#include "pipeline/staged/staged_pipeline.h"

namespace boardmill::pipeline {

void SampleQueues(StagedPipeline& pipeline) {
  QueueSampleRow row;
  row.elapsed_seconds = pipeline.ElapsedSeconds();
  row.depths = pipeline.ReadDepths();
  const PipelineDepths& depths = row.depths;
  pipeline.Stats(PipelineStage::kReader).RecordQueueDepth(depths.file_queue);
  pipeline.Stats(PipelineStage::kDecompress).RecordQueueDepth(depths.decompress);
  pipeline.Stats(PipelineStage::kLineIndex).RecordQueueDepth(depths.line_index);
  pipeline.Stats(PipelineStage::kParse).RecordQueueDepth(depths.parse);
  pipeline.Stats(PipelineStage::kCompress).RecordQueueDepth(depths.compress);
  pipeline.Stats(PipelineStage::kWrite).RecordQueueDepth(depths.writer_backlog);
  const std::lock_guard lock(pipeline.queue_rows_mutex);
  pipeline.queue_rows.push_back(row);
}

void RunQueueSampler(StagedPipeline& pipeline, const std::atomic<bool>& stop_sampling) {
  SampleQueues(pipeline);
  while (!stop_sampling.load(std::memory_order_acquire)) {
    // sleep_until re-sleeps after early wake-ups on its own.
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + kQueueSampleInterval);
    SampleQueues(pipeline);
  }
  SampleQueues(pipeline);
}

}  // namespace boardmill::pipeline
