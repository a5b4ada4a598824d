#include "pipeline/parallel/autotuner.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>

#include "util/stopwatch.h"

namespace boardmill::pipeline {

namespace {

constexpr std::string_view kStarted = "Autotuner started.";
constexpr std::string_view kMoreWorkers = "Backlog remains healthy; increasing active workers.";
constexpr std::string_view kFewerWorkers =
    "Throughput fell without backlog; reducing active workers.";
constexpr std::string_view kLargerFlush =
    "Write stage dominates compression; increasing flush size.";
constexpr std::string_view kLowerLevel =
    "Compression dominates write time; lowering compression level.";
constexpr std::string_view kLargerBatch =
    "Input stages dominate encode time; increasing line batch size.";
constexpr std::string_view kSmallerBatch = "Recent throughput regressed; reducing line batch size.";

constexpr std::size_t kRead = 0;
constexpr std::size_t kDecompress = 1;
constexpr std::size_t kEncode = 2;
constexpr std::size_t kCompress = 3;
constexpr std::size_t kWrite = 4;

// Twice `value`, but no more than `maximum`; `value` is below `maximum`.
std::uint64_t DoubledUpTo(std::uint64_t value, std::uint64_t maximum) {
  return value > maximum / 2 ? maximum : std::min(2 * value, maximum);
}

bool BacklogExceedsTwice(std::uint64_t backlog, std::uint64_t active) {
  return backlog > active && backlog - active > active;  // backlog > 2 × active, without overflow
}

}  // namespace

double IntervalThroughput(const StageStatsSnapshot& previous, const StageStatsSnapshot& current) {
  const double busy = current.busy_seconds - previous.busy_seconds;
  if (!(busy > 0.0)) return 0.0;
  return static_cast<double>(current.items_out - previous.items_out) / busy;
}

std::optional<TuningChange> ApplyTuningRule(const AutotuneLimits& limits,
                                            const TuningInputs& inputs) {
  const StageBusyDeltas& busy = inputs.busy;
  WorkerKnobs knobs = inputs.knobs;
  const bool had_throughput = inputs.previous_throughput > 0.0;

  if (BacklogExceedsTwice(inputs.backlog, knobs.active_workers) &&
      inputs.throughput >= 0.97 * inputs.peak_throughput &&
      knobs.active_workers < limits.highest.active_workers) {
    ++knobs.active_workers;
    return TuningChange{knobs, kMoreWorkers};
  }
  if (had_throughput && inputs.throughput < 0.94 * inputs.previous_throughput &&
      knobs.active_workers > limits.lowest.active_workers && inputs.backlog == 0) {
    --knobs.active_workers;
    return TuningChange{knobs, kFewerWorkers};
  }
  if (busy.write > 1.3 * busy.compress &&
      knobs.records_per_flush < limits.highest.records_per_flush) {
    knobs.records_per_flush =
        DoubledUpTo(knobs.records_per_flush, limits.highest.records_per_flush);
    return TuningChange{knobs, kLargerFlush};
  }
  if (busy.compress > 1.2 * busy.write &&
      knobs.compression_level > limits.lowest.compression_level) {
    --knobs.compression_level;
    return TuningChange{knobs, kLowerLevel};
  }
  if (busy.read + busy.decompress > 1.2 * busy.encode &&
      knobs.line_batch_size < limits.highest.line_batch_size) {
    knobs.line_batch_size = DoubledUpTo(knobs.line_batch_size, limits.highest.line_batch_size);
    return TuningChange{knobs, kLargerBatch};
  }
  if (had_throughput && inputs.throughput < 0.96 * inputs.previous_throughput &&
      knobs.line_batch_size > limits.lowest.line_batch_size) {
    knobs.line_batch_size = std::max(knobs.line_batch_size / 2, limits.lowest.line_batch_size);
    return TuningChange{knobs, kSmallerBatch};
  }
  return std::nullopt;
}

Autotuner::Autotuner(const AutotuneLimits& limits, StageStats& read, StageStats& decompress,
                     StageStats& encode, StageStats& compress, StageStats& write,
                     BacklogFunction backlog, std::atomic<std::uint64_t>& active_workers,
                     std::atomic<std::uint64_t>& line_batch_size,
                     std::atomic<std::uint64_t>& records_per_flush,
                     std::atomic<std::int32_t>& compression_level, DecisionCallback on_decision)
    : limits_(limits),
      stages_{&read, &decompress, &encode, &compress, &write},
      backlog_(std::move(backlog)),
      active_workers_(active_workers),
      line_batch_size_(line_batch_size),
      records_per_flush_(records_per_flush),
      compression_level_(compression_level),
      on_decision_(std::move(on_decision)) {}

Autotuner::~Autotuner() { Stop(); }

void Autotuner::Start() {
  Stop();
  {
    const std::lock_guard lock(stop_mutex_);
    stop_requested_ = false;
  }
  thread_ = std::thread(&Autotuner::Run, this);
}

void Autotuner::Stop() {
  {
    const std::lock_guard lock(stop_mutex_);
    stop_requested_ = true;
  }
  stop_signal_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool Autotuner::WaitOneInterval() {
  std::unique_lock lock(stop_mutex_);
  const std::chrono::duration<double> interval(limits_.tuning_interval_seconds);
  return !stop_signal_.wait_for(lock, interval, [this] { return stop_requested_; });
}

void Autotuner::Run() {
  const util::Stopwatch since_start;
  Snapshots previous = TakeSnapshots();
  Emit(kStarted, 0.0, 0.0);

  double peak_throughput = 0.0;
  double previous_throughput = 0.0;
  while (WaitOneInterval()) {
    const Snapshots current = TakeSnapshots();
    TuningInputs inputs;
    inputs.busy.read = current[kRead].busy_seconds - previous[kRead].busy_seconds;
    inputs.busy.decompress = current[kDecompress].busy_seconds - previous[kDecompress].busy_seconds;
    inputs.busy.encode = current[kEncode].busy_seconds - previous[kEncode].busy_seconds;
    inputs.busy.compress = current[kCompress].busy_seconds - previous[kCompress].busy_seconds;
    inputs.busy.write = current[kWrite].busy_seconds - previous[kWrite].busy_seconds;
    inputs.throughput = IntervalThroughput(previous[kEncode], current[kEncode]);
    peak_throughput = std::max(peak_throughput, inputs.throughput);
    inputs.peak_throughput = peak_throughput;
    inputs.previous_throughput = previous_throughput;
    inputs.backlog = backlog_ ? backlog_() : 0;
    inputs.knobs = ReadKnobs();

    if (const std::optional<TuningChange> change = ApplyTuningRule(limits_, inputs)) {
      StoreKnobs(change->knobs);
      Emit(change->reason, since_start.ElapsedSeconds(), inputs.throughput);
    }
    previous = current;
    previous_throughput = inputs.throughput;
  }
}

Autotuner::Snapshots Autotuner::TakeSnapshots() const {
  Snapshots snapshots;
  for (std::size_t i = 0; i < kStageCount; ++i) snapshots[i] = stages_[i]->Snapshot();
  return snapshots;
}

WorkerKnobs Autotuner::ReadKnobs() const {
  WorkerKnobs knobs;
  knobs.active_workers = active_workers_.load();
  knobs.line_batch_size = line_batch_size_.load();
  knobs.records_per_flush = records_per_flush_.load();
  knobs.compression_level = compression_level_.load();
  return knobs;
}

void Autotuner::StoreKnobs(const WorkerKnobs& knobs) {
  // This thread is the cells' only writer, so rewriting the unchanged ones is invisible.
  active_workers_.store(knobs.active_workers);
  line_batch_size_.store(knobs.line_batch_size);
  records_per_flush_.store(knobs.records_per_flush);
  compression_level_.store(knobs.compression_level);
}

void Autotuner::Emit(std::string_view reason, double elapsed_seconds, double throughput) const {
  if (!on_decision_) return;
  on_decision_(TuningDecision{elapsed_seconds, ReadKnobs(), throughput, std::string(reason)});
}

}  // namespace boardmill::pipeline
