#include "pipeline/staged/stage_plan.h"

#include <algorithm>
#include <numeric>

namespace boardmill::pipeline {

namespace {

using namespace stage_index;  // NOLINT(google-build-using-namespace)

// hi when v > hi, otherwise lo when v < lo, otherwise v (hi wins when lo > hi).
std::uint64_t Clamp(std::uint64_t value, std::uint64_t low, std::uint64_t high) {
  if (value > high) return high;
  return value < low ? low : value;
}

std::uint64_t ThreadBudget(std::uint64_t max_threads, std::uint64_t usable_cpus) {
  const std::uint64_t requested =
      max_threads != 0 ? max_threads : (usable_cpus != 0 ? usable_cpus : 2);
  return std::max<std::uint64_t>(requested, 2);
}

std::uint64_t Sum(const ElasticCounts& counts) {
  return std::accumulate(counts.begin(), counts.end(), std::uint64_t{0});
}

// Takes one worker at a time from parse, then compress, line_index, decompress and reader, until
// the counts fit the budget or every stage is down to 1.
void TrimToBudget(ElasticCounts& active, std::uint64_t thread_budget) {
  constexpr std::size_t kTrimOrder[] = {kParse, kCompress, kLineIndex, kDecompress, kReader};
  while (Sum(active) > thread_budget) {
    const auto trimmable = std::find_if(std::begin(kTrimOrder), std::end(kTrimOrder),
                                        [&](std::size_t stage) { return active[stage] > 1; });
    if (trimmable == std::end(kTrimOrder)) return;
    --active[*trimmable];
  }
}

std::uint64_t ExplicitWorkers(const ConversionOptions& options, std::size_t stage) {
  const std::uint64_t requested[] = {options.reader_workers, options.decompress_workers,
                                     options.line_index_workers, options.parse_workers,
                                     options.compress_workers};
  return requested[stage];
}

}  // namespace

ElasticCounts DefaultStageWorkers(std::uint64_t thread_budget, std::uint64_t file_count) {
  const std::uint64_t files = std::max<std::uint64_t>(file_count, 1);
  ElasticCounts defaults{};
  defaults[kReader] = std::min(files, Clamp(thread_budget / 32, 2, 4));
  defaults[kDecompress] = std::min(files, Clamp(thread_budget / 12, defaults[kReader], 10));
  defaults[kLineIndex] = std::min(files, Clamp(thread_budget / 32, 2, 4));
  defaults[kCompress] = Clamp(thread_budget / 8, 4, 15);
  const std::uint64_t others = Sum(defaults);
  defaults[kParse] = thread_budget > others ? thread_budget - others : 1;
  return defaults;
}

StagePlan PlanStages(const ConversionOptions& options, std::uint64_t file_count,
                     std::uint64_t usable_cpus) {
  StagePlan plan;
  plan.thread_budget = ThreadBudget(options.max_threads, usable_cpus);
  const ElasticCounts defaults = DefaultStageWorkers(plan.thread_budget, file_count);

  bool any_explicit = false;
  for (std::size_t stage = 0; stage < kElasticStageCount; ++stage) {
    const std::uint64_t requested = ExplicitWorkers(options, stage);
    any_explicit = any_explicit || requested != 0;
    plan.pool_sizes[stage] = requested != 0 ? requested : defaults[stage];
    plan.initial_active[stage] = plan.pool_sizes[stage];
  }
  // With autotune the controller may move slots into parse and compress, so their pools hold
  // more threads than are admitted at first.
  if (options.enable_autotune && options.parse_workers == 0) {
    plan.pool_sizes[kParse] = std::max(plan.pool_sizes[kParse], plan.thread_budget);
  }
  if (options.enable_autotune && options.compress_workers == 0) {
    plan.pool_sizes[kCompress] =
        std::max(plan.pool_sizes[kCompress], std::max<std::uint64_t>(plan.thread_budget / 4, 4));
  }
  if (!any_explicit) TrimToBudget(plan.initial_active, plan.thread_budget);
  return plan;
}

}  // namespace boardmill::pipeline
