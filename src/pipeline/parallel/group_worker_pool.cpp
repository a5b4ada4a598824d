#include "pipeline/parallel/group_worker_pool.h"

#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "pipeline/parallel/autotuner.h"
#include "pipeline/parallel/file_group_task.h"

namespace boardmill::pipeline {

namespace {

constexpr auto kIdleWorkerPoll = std::chrono::milliseconds(50);

}  // namespace

GroupWorkerPool::GroupWorkerPool(const ConversionOptions& options,
                                 const shards::ShardRouter& router, const WorkerPlan& plan,
                                 const RunPaths& paths,
                                 const std::vector<std::filesystem::path>& files)
    : options_(options),
      router_(router),
      plan_(plan),
      paths_(paths),
      files_(files),
      knobs_(plan.knobs) {}

void GroupWorkerPool::Run(GroupSource& source, GroupReport& report, bool may_have_groups,
                          const std::function<void()>& serve) {
  Autotuner autotuner(
      ComputeAutotuneLimits(options_, worker_count()), stats_.read, stats_.decompress,
      stats_.encode, stats_.compress, stats_.write, [&source] { return source.Backlog(); },
      knobs_.active_workers, knobs_.line_batch_size, knobs_.records_per_flush,
      knobs_.compression_level,
      [&report](const TuningDecision& decision) { report.Tuned(decision); });
  if (options_.enable_autotune && may_have_groups) autotuner.Start();

  std::vector<std::thread> workers;
  workers.reserve(worker_count());
  for (std::uint64_t worker = 0; worker < worker_count(); ++worker) {
    workers.emplace_back([this, worker, &source, &report] {
      WorkerLoop(worker, source, report);
      report.WorkerEnded();
    });
  }
  if (serve) serve();
  for (std::thread& thread : workers) thread.join();
  autotuner.Stop();
}

void GroupWorkerPool::WorkerLoop(std::uint64_t worker, GroupSource& source, GroupReport& report) {
  // Made on the worker's first task: a worker that finds no work holds no buffers.
  std::unique_ptr<WorkerResources> resources;
  while (!report.failed()) {
    if (worker < knobs_.active_workers.load()) {
      const std::optional<FileGroup> group = source.Next();
      if (!group) return;
      if (!resources) {
        resources = std::make_unique<WorkerResources>(router_.shard_count(),
                                                      plan_.memory.record_budget_bytes);
      }
      ConvertGroup(*group, *resources, report);
    } else {
      if (source.Backlog() == 0) return;
      std::this_thread::sleep_for(kIdleWorkerPoll);
    }
  }
}

void GroupWorkerPool::ConvertGroup(const FileGroup& group, WorkerResources& resources,
                                   GroupReport& report) {
  util::Result<void> space = CheckScratchFreeSpace(options_, paths_);
  if (!space) {
    report.Failed(space.error());
    return;
  }
  const FileGroupTask task{group, files_, paths_.fragments_root, knobs_.Read()};
  util::Result<std::vector<FileProcessingSummary>> converted =
      ConvertFileGroup(task, options_, router_, resources);
  if (!converted) {
    report.Failed(converted.error());
    return;
  }
  for (const FileProcessingSummary& file : *converted) stats_.AddFile(file);
  report.Completed(group, *converted);
}

}  // namespace boardmill::pipeline
