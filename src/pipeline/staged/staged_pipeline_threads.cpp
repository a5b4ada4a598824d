#include "pipeline/staged/staged_pipeline_threads.h"

#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "pipeline/staged/queue_sampler.h"
#include "pipeline/staged/stage_controller.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

// Starts threads for one run; a thread the system refuses fails the run instead of throwing,
// and no further thread is started. A failure reported by a running thread does not stop the
// starting: the late threads see the stop flag at once and finish like the others.
class RunThreads {
 public:
  explicit RunThreads(StagedPipeline& pipeline) : pipeline_(pipeline) {}

  bool Start(std::vector<std::thread>& group, std::function<void()> body) {
    if (refused_) return false;
    try {
      group.emplace_back(std::move(body));
      return true;
    } catch (const std::system_error& error) {
      refused_ = true;
      pipeline_.ReportFailure(std::string("Failed to start a pipeline thread: ") + error.what());
      return false;
    }
  }

  // Starts `count` threads running `body(index)`.
  void StartPool(std::vector<std::thread>& group, std::uint64_t count,
                 void (*body)(StagedPipeline&, std::uint64_t)) {
    for (std::uint64_t index = 0; index < count; ++index) {
      if (!Start(group, [this, body, index] { body(pipeline_, index); })) return;
    }
  }

  static void Join(std::vector<std::thread>& group) {
    for (std::thread& thread : group) thread.join();
  }

 private:
  StagedPipeline& pipeline_;
  bool refused_ = false;
};

// The controller row of a run without --autotune, taken while the threads start.
void RecordAutotuneDisabledRow(StagedPipeline& pipeline) {
  ControllerRow row;
  row.elapsed_seconds = 0.0;
  row.active = pipeline.plan.initial_active;
  row.depths = pipeline.ReadDepths();
  row.action = "hold";
  row.reason = "autotune-disabled";
  const std::lock_guard lock(pipeline.controller_rows_mutex);
  pipeline.controller_rows.push_back(std::move(row));
}

}  // namespace

void RunStagedPipelineThreads(StagedPipeline& pipeline) {
  constexpr std::size_t kElastic = kElasticStageCount;
  const ElasticCounts& pools = pipeline.plan.pool_sizes;
  pipeline.live_readers = pools[StageIndex(PipelineStage::kReader)];
  pipeline.live_decompressors = pools[StageIndex(PipelineStage::kDecompress)];
  pipeline.live_line_indexers = pools[StageIndex(PipelineStage::kLineIndex)];
  pipeline.live_parsers = pools[StageIndex(PipelineStage::kParse)];
  pipeline.live_writers = pipeline.shard_count;

  RunThreads threads(pipeline);
  std::atomic<bool> stop_sampling{false};
  std::vector<std::thread> sampler;
  std::vector<std::thread> controller;
  std::vector<std::thread> writers;
  std::array<std::vector<std::thread>, kElastic> pools_threads;
  constexpr void (*kBodies[kElastic])(StagedPipeline&, std::uint64_t) = {
      RunReaderThread, RunDecompressThread, RunLineIndexThread, RunParseThread, RunCompressThread};

  threads.Start(sampler, [&] { RunQueueSampler(pipeline, stop_sampling); });
  if (pipeline.options.enable_autotune) {
    threads.Start(controller, [&] { RunStageController(pipeline); });
  } else {
    RecordAutotuneDisabledRow(pipeline);
  }
  threads.StartPool(writers, pipeline.shard_count, RunShardWriterThread);
  for (std::size_t stage = 0; stage < kElastic; ++stage) {
    threads.StartPool(pools_threads[stage], pools[stage], kBodies[stage]);
  }

  for (auto& pool : pools_threads) RunThreads::Join(pool);
  pipeline.MarkPipelineFinished();
  RunThreads::Join(controller);
  RunThreads::Join(writers);
  stop_sampling.store(true, std::memory_order_release);
  RunThreads::Join(sampler);
}

}  // namespace boardmill::pipeline
