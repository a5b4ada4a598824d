#include "pipeline/staged/stage_controller.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <numeric>
#include <optional>

#include "pipeline/staged/staged_pipeline.h"

namespace boardmill::pipeline {

namespace {

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
constexpr double kMinimumIntervalSeconds = 0.25;

using namespace stage_index;  // NOLINT(google-build-using-namespace)

double Ratio(double seconds, double capacity_seconds) {
  return capacity_seconds > kEpsilon ? seconds / capacity_seconds : 0.0;
}

double Fill(std::uint64_t depth, std::uint64_t capacity) {
  return Ratio(static_cast<double>(depth), static_cast<double>(capacity));
}

double Delta(double previous, double current) { return std::max(current - previous, 0.0); }

// The conditions of one tick.
struct Conditions {
  bool decompress_starved = false;
  bool line_index_starved = false;
  bool parse_starved = false;
  bool compress_starved = false;
  bool read_backpressure = false;
  bool decompress_backpressure = false;
  bool line_index_backpressure = false;
  bool parse_backpressure = false;
  bool writer_saturated = false;
  double compress_fill = 0.0;
};

Conditions Evaluate(const ControllerObservation& seen) {
  const ElasticCounts& a = seen.active;
  const PipelineDepths& q = seen.depths;
  const auto& r = seen.ratios;
  const auto low = [](std::uint64_t depth, std::uint64_t active) {
    return depth <= std::max<std::uint64_t>(active / 4, 2);
  };
  Conditions c;
  c.compress_fill = Fill(q.compress, std::max<std::uint64_t>(seen.capacities.compress, 1));
  const double decompress_fill = Fill(q.decompress, seen.capacities.decompress);
  const double line_index_fill = Fill(q.line_index, seen.capacities.line_index);
  const double parse_fill = Fill(q.parse, std::max<std::uint64_t>(seen.capacities.parse, 1));

  c.decompress_starved = low(q.line_index, a[kLineIndex]) && r[kDecompress].empty > 0.15;
  c.line_index_starved = low(q.parse, a[kParse]) && r[kLineIndex].empty > 0.15;
  c.parse_starved = (q.line_index > 0 || q.decompress > 0 || q.file_queue > 0) &&
                    low(q.parse, a[kParse]) && r[kParse].empty > 0.15;
  c.compress_starved = low(q.compress, a[kCompress]) && r[kCompress].empty > 0.15;
  c.read_backpressure = decompress_fill >= 0.6 || r[kReader].full > 0.05;
  c.decompress_backpressure = line_index_fill >= 0.6 || r[kDecompress].full > 0.05;
  c.line_index_backpressure = parse_fill >= 0.6 || r[kLineIndex].full > 0.05;
  c.parse_backpressure = c.compress_fill >= 0.5 || r[kParse].full > 0.05;
  const std::int64_t backlog_threshold =
      static_cast<std::int64_t>(std::max<std::uint64_t>(2 * a[kCompress], 32));
  c.writer_saturated = seen.backlog_change > backlog_threshold && seen.write_busy_ratio > 0.01;
  return c;
}

// A stage can spare a slot when it is held back, starved or not very busy.
bool Relaxed(std::size_t stage, const Conditions& c, const ControllerObservation& seen) {
  const bool flags[] = {c.read_backpressure, c.decompress_backpressure, c.line_index_backpressure,
                        c.parse_backpressure, c.compress_starved};
  return flags[stage] || seen.ratios[stage].busy < 0.65 || seen.ratios[stage].empty > 0.1;
}

std::optional<std::size_t> PickDonor(std::size_t target, const ElasticCounts& a,
                                     const Conditions& c, const ControllerObservation& seen) {
  const auto relaxed = [&](std::size_t stage) { return Relaxed(stage, c, seen); };
  switch (target) {
    case kReader:
    case kDecompress:
    case kLineIndex:
      if (a[kParse] > 1 && relaxed(kParse)) return kParse;
      if (a[kCompress] >= 2) return kCompress;
      if (target == kLineIndex) {
        if (a[kDecompress] > 1) return kDecompress;
      } else if (a[kLineIndex] > 1) {
        return kLineIndex;
      }
      return std::nullopt;
    case kParse:
      if (a[kCompress] > 1 && relaxed(kCompress)) return kCompress;
      if (a[kReader] >= 2) return kReader;
      if (a[kLineIndex] > 1) return kLineIndex;
      return std::nullopt;
    case kCompress:
      if (a[kReader] > 1 && relaxed(kReader)) return kReader;
      if (a[kParse] >= 2) return kParse;
      if (a[kLineIndex] > 1) return kLineIndex;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

std::uint64_t Sum(const ElasticCounts& counts) {
  return std::accumulate(counts.begin(), counts.end(), std::uint64_t{0});
}

ControllerDecision Hold(const ElasticCounts& active, const char* reason) {
  return ControllerDecision{active, "hold", reason};
}

// Adds up to `slots` active slots to `target`, taking each from a donor once the budget is used.
ControllerDecision Move(std::size_t target, std::uint64_t slots, std::string reason,
                        const Conditions& c, const ControllerObservation& seen) {
  ElasticCounts a = seen.active;
  const std::uint64_t cap = seen.caps[target];
  if (a[target] >= cap) return Hold(a, "target-maxed");
  std::uint64_t steps = 0;
  for (; steps < slots; ++steps) {
    if (a[target] >= cap) break;
    if (Sum(a) >= seen.thread_budget) {
      const std::optional<std::size_t> donor = PickDonor(target, a, c, seen);
      if (!donor || *donor == target || a[*donor] < 2) break;
      --a[*donor];
      reason += " from ";
      reason += StageName(kElasticStages[*donor]);
    }
    a[target] = std::min(a[target] + 1, cap);
  }
  if (steps == 0) return Hold(seen.active, "no-donor");
  return ControllerDecision{
      a, std::string(StageName(kElasticStages[target])) + "+" + std::to_string(steps), reason};
}

// Everything the controller keeps from one tick to the next.
class ControllerState {
 public:
  explicit ControllerState(StagedPipeline& pipeline) : pipeline_(pipeline) {
    TakeSnapshots(previous_);
    previous_backlog_ = pipeline.ReadDepths().writer_backlog;
  }

  void RecordInitialRow() {
    ControllerRow row;
    row.elapsed_seconds = pipeline_.ElapsedSeconds();
    row.active = pipeline_.ActiveCounts();
    row.depths = pipeline_.ReadDepths();
    row.action = "hold";
    row.reason = "initial";
    Append(std::move(row));
  }

  void Tick(double interval_seconds) {
    ControllerObservation seen;
    seen.active = pipeline_.ActiveCounts();
    seen.caps = pipeline_.plan.pool_sizes;
    seen.thread_budget = pipeline_.plan.thread_budget;
    seen.capacities = Capacities();

    std::array<StageStatsSnapshot, kPipelineStageCount> current;
    TakeSnapshots(current);
    ControllerRow row;
    for (std::size_t stage = 0; stage < kPipelineStageCount; ++stage) {
      const std::uint64_t active =
          stage < kElasticStageCount ? seen.active[stage] : pipeline_.shard_count;
      const StageInterval interval =
          MeasureStageInterval(previous_[stage], current[stage], active, interval_seconds);
      if (stage < kElasticStageCount) {
        seen.ratios[stage] = interval.ratios;
      } else {
        seen.write_busy_ratio = interval.ratios.busy;
      }
      row.items_out_deltas[stage] = interval.items_out;
    }
    previous_ = current;

    seen.depths = pipeline_.ReadDepths();
    seen.backlog_change = static_cast<std::int64_t>(seen.depths.writer_backlog) -
                          static_cast<std::int64_t>(previous_backlog_);
    previous_backlog_ = seen.depths.writer_backlog;

    ControllerDecision decision = DecideStageMove(seen);
    Apply(seen.active, decision.active);

    row.elapsed_seconds = pipeline_.ElapsedSeconds();
    row.active = pipeline_.ActiveCounts();
    row.depths = seen.depths;
    row.ratios = seen.ratios;
    row.write_busy_ratio = seen.write_busy_ratio;
    row.action = std::move(decision.action);
    row.reason = std::move(decision.reason);
    Append(std::move(row));
  }

 private:
  void TakeSnapshots(std::array<StageStatsSnapshot, kPipelineStageCount>& snapshots) const {
    for (std::size_t stage = 0; stage < kPipelineStageCount; ++stage) {
      snapshots[stage] = pipeline_.stage_stats[stage].Snapshot();
    }
  }

  QueueCapacities Capacities() const {
    QueueCapacities capacities;
    for (const auto& queue : pipeline_.decompress_queues) {
      capacities.decompress += queue->queue.Capacity();
    }
    for (const auto& queue : pipeline_.line_index_queues) {
      capacities.line_index += queue->queue.Capacity();
    }
    capacities.parse = pipeline_.parse_queue.queue.Capacity();
    capacities.compress = pipeline_.compress_queue.queue.Capacity();
    return capacities;
  }

  void Apply(const ElasticCounts& before, const ElasticCounts& after) {
    for (std::size_t stage = 0; stage < kElasticStageCount; ++stage) {
      if (after[stage] != before[stage]) pipeline_.gates[stage]->SetActive(after[stage]);
    }
  }

  void Append(ControllerRow row) {
    const std::lock_guard lock(pipeline_.controller_rows_mutex);
    pipeline_.controller_rows.push_back(std::move(row));
  }

  StagedPipeline& pipeline_;
  std::array<StageStatsSnapshot, kPipelineStageCount> previous_;
  std::uint64_t previous_backlog_ = 0;
};

}  // namespace

StageInterval MeasureStageInterval(const StageStatsSnapshot& previous,
                                   const StageStatsSnapshot& current, std::uint64_t active,
                                   double interval_seconds) {
  const double capacity = static_cast<double>(active) * interval_seconds;
  StageInterval interval;
  interval.ratios.busy = Ratio(Delta(previous.busy_seconds, current.busy_seconds), capacity);
  interval.ratios.empty =
      Ratio(Delta(previous.blocked_empty_seconds, current.blocked_empty_seconds), capacity);
  interval.ratios.full =
      Ratio(Delta(previous.blocked_full_seconds, current.blocked_full_seconds), capacity);
  interval.items_out =
      current.items_out > previous.items_out ? current.items_out - previous.items_out : 0;
  return interval;
}

ControllerDecision DecideStageMove(const ControllerObservation& seen) {
  const Conditions c = Evaluate(seen);
  const PipelineDepths& q = seen.depths;
  const bool upstream_starved = c.parse_starved && c.line_index_starved;
  if (c.parse_backpressure && !c.writer_saturated) {
    return Move(kCompress, c.compress_fill >= 0.75 ? 2 : 1, "compress-backlog", c, seen);
  }
  if (upstream_starved && c.decompress_starved && q.file_queue > 0) {
    return Move(kReader, 1, "decompress-starved", c, seen);
  }
  if (upstream_starved && c.decompress_starved) {
    return Move(kDecompress, 1, "parse-starved", c, seen);
  }
  if (upstream_starved) return Move(kLineIndex, 1, "parse-starved", c, seen);
  if (c.compress_starved) {
    return Move(kParse, q.parse > 0 ? 1 : 2, "compress-starved", c, seen);
  }
  if (c.writer_saturated) return Hold(seen.active, "writer-saturated");
  if (c.read_backpressure) return Move(kDecompress, 1, "read-backpressure", c, seen);
  if (c.decompress_backpressure) {
    return Move(kLineIndex, 1, "decompress-backpressure", c, seen);
  }
  if (c.line_index_backpressure && seen.active[kParse] < seen.caps[kParse]) {
    return Move(kParse, 1, "line-index-backpressure", c, seen);
  }
  return Hold(seen.active, "steady");
}

void RunStageController(StagedPipeline& pipeline) {
  const double interval_seconds =
      std::max(pipeline.options.tuning_interval_seconds, kMinimumIntervalSeconds);
  const auto interval = std::chrono::duration<double>(interval_seconds);
  ControllerState state(pipeline);
  state.RecordInitialRow();
  const auto over = [&] {
    return pipeline.Stopped() || pipeline.pipeline_finished.load(std::memory_order_acquire);
  };
  while (!over()) {
    // Raised when the pipeline finishes or the run stops, so the run never waits out a tick.
    pipeline.finished_or_stopped.SleepFor(interval);
    if (over()) return;
    state.Tick(interval_seconds);
  }
}

}  // namespace boardmill::pipeline
