#include "pipeline/parallel/worker_plan.h"

#include <algorithm>
#include <string>

#include "run/memory_ceiling.h"
#include "util/usable_cpus.h"

namespace boardmill::pipeline {

WorkerPlan PlanWorkers(const ConversionOptions& options, std::uint64_t pending_files,
                       std::uint64_t ceiling_mib) {
  WorkerPlan plan;
  plan.caps = ComputeWorkerCaps(options, pending_files, util::UsableCpuCount(), 0);
  plan.memory = PlanWorkerMemory(options, run::MemoryCeilingBytes(ceiling_mib),
                                 plan.caps.effective_max_workers);
  plan.caps.effective_max_workers = plan.memory.workers;
  plan.knobs.active_workers = InitialActiveWorkers(options, plan.caps.effective_max_workers);
  plan.knobs.line_batch_size = std::max<std::uint64_t>(options.line_batch_size, 1);
  plan.knobs.records_per_flush = std::max<std::uint64_t>(options.records_per_flush, 1);
  plan.knobs.compression_level = options.compression_level;
  return plan;
}

util::Result<void> CheckWorkerFits(const ConversionOptions& options, std::uint64_t ceiling_mib) {
  return run::CheckMemoryNeed(
      ceiling_mib, MinimumWorkerMemoryBytes(options),
      "a parallel worker at level " + std::to_string(options.compression_level));
}

RankCaps CapsOf(const WorkerPlan& plan) {
  return {plan.caps.requested_worker_cap, plan.caps.effective_max_workers,
          plan.caps.stdio_worker_cap, plan.memory.memory_worker_cap, 0};
}

}  // namespace boardmill::pipeline
