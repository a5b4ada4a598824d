#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "pipeline/parallel/autotune_limits.h"
#include "pipeline/parallel/tuning_decision.h"
#include "pipeline/parallel/worker_knobs.h"
#include "pipeline/stage_stats.h"

namespace boardmill::pipeline {

// Busy seconds each stage added during one tuning interval.
struct StageBusyDeltas {
  double read = 0.0;
  double decompress = 0.0;
  double encode = 0.0;
  double compress = 0.0;
  double write = 0.0;
};

// Everything one tuning step looks at.
struct TuningInputs {
  StageBusyDeltas busy;
  double throughput = 0.0;           // this interval's
  double peak_throughput = 0.0;      // the highest so far, this interval included
  double previous_throughput = 0.0;  // the last interval's; 0 before the first
  std::uint64_t backlog = 0;         // files still queued
  WorkerKnobs knobs;                 // as they stand
};

// A knob change and the rule that made it.
struct TuningChange {
  WorkerKnobs knobs;  // the knobs after the change; exactly one differs from the inputs'
  std::string_view reason;
};

// Encoded records per busy encode second between two snapshots of the encode stage; 0 when the
// stage was not busy (in the parallel mode: when no file finished in the interval).
double IntervalThroughput(const StageStatsSnapshot& previous, const StageStatsSnapshot& current);

// The first tuning rule whose conditions hold, in priority order: more workers while the
// backlog is healthy, fewer when throughput falls with nothing queued, larger flushes when
// writing dominates compression, a lower level when compression dominates writing, larger line
// batches when input dominates encoding, smaller ones when throughput regressed. Each rule moves
// one knob one step toward its limit and never past it.
std::optional<TuningChange> ApplyTuningRule(const AutotuneLimits& limits,
                                            const TuningInputs& inputs);

// The parallel mode's tuning thread. Once per interval it compares what the stages did, applies
// at most one rule and reports each change (and its own start) through the callback, on its own
// thread. It is the only writer of the knob cells; workers read them when they start a file.
class Autotuner {
 public:
  using BacklogFunction = std::function<std::uint64_t()>;
  using DecisionCallback = std::function<void(const TuningDecision&)>;

  // Starts nothing. `backlog` and `on_decision` may be empty.
  Autotuner(const AutotuneLimits& limits, StageStats& read, StageStats& decompress,
            StageStats& encode, StageStats& compress, StageStats& write, BacklogFunction backlog,
            std::atomic<std::uint64_t>& active_workers, std::atomic<std::uint64_t>& line_batch_size,
            std::atomic<std::uint64_t>& records_per_flush,
            std::atomic<std::int32_t>& compression_level, DecisionCallback on_decision);
  ~Autotuner();
  Autotuner(const Autotuner&) = delete;
  Autotuner& operator=(const Autotuner&) = delete;

  // Stops a running thread, then starts a new one; peak and previous throughput start from 0.
  void Start();
  // Ends the thread and waits for it. The thread is woken at once rather than at the end of its
  // current interval, so stopping never holds up the end of a run.
  void Stop();

 private:
  static constexpr std::size_t kStageCount = 5;
  using Snapshots = std::array<StageStatsSnapshot, kStageCount>;

  void Run();
  // Waits one interval; false when asked to stop.
  bool WaitOneInterval();
  Snapshots TakeSnapshots() const;
  WorkerKnobs ReadKnobs() const;
  void StoreKnobs(const WorkerKnobs& knobs);
  void Emit(std::string_view reason, double elapsed_seconds, double throughput) const;

  const AutotuneLimits limits_;
  const std::array<StageStats*, kStageCount> stages_;  // read, decompress, encode, compress, write
  const BacklogFunction backlog_;
  std::atomic<std::uint64_t>& active_workers_;
  std::atomic<std::uint64_t>& line_batch_size_;
  std::atomic<std::uint64_t>& records_per_flush_;
  std::atomic<std::int32_t>& compression_level_;
  const DecisionCallback on_decision_;

  std::mutex stop_mutex_;
  std::condition_variable stop_signal_;
  bool stop_requested_ = false;
  std::thread thread_;
};

}  // namespace boardmill::pipeline
