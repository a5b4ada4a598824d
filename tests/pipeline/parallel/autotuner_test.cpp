#include "pipeline/parallel/autotuner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace boardmill::pipeline {

void PrintTo(const WorkerKnobs& knobs, std::ostream* out) {
  *out << "{A=" << knobs.active_workers << " L=" << knobs.line_batch_size
       << " F=" << knobs.records_per_flush << " C=" << knobs.compression_level << "}";
}

namespace {

using namespace std::chrono_literals;

constexpr char kMoreWorkers[] = "Backlog remains healthy; increasing active workers.";
constexpr char kFewerWorkers[] = "Throughput fell without backlog; reducing active workers.";
constexpr char kLargerFlush[] = "Write stage dominates compression; increasing flush size.";
constexpr char kLowerLevel[] = "Compression dominates write time; lowering compression level.";
constexpr char kLargerBatch[] = "Input stages dominate encode time; increasing line batch size.";
constexpr char kSmallerBatch[] = "Recent throughput regressed; reducing line batch size.";

AutotuneLimits Limits() {
  AutotuneLimits limits;
  limits.lowest = WorkerKnobs{2, 256, 256, 1};
  limits.highest = WorkerKnobs{8, 32768, 32768, 22};
  return limits;
}

constexpr WorkerKnobs kQuietKnobs{4, 4096, 4096, 8};

// An interval in which nothing happened: no rule applies.
TuningInputs Quiet() { return TuningInputs{.busy = {}, .knobs = kQuietKnobs}; }

// `reason` nullptr: no rule applies; otherwise `knobs` are the knobs after the change.
void ExpectRule(const char* name, const TuningInputs& inputs, const char* reason,
                WorkerKnobs knobs = {}) {
  SCOPED_TRACE(name);
  const std::optional<TuningChange> change = ApplyTuningRule(Limits(), inputs);
  if (reason == nullptr) {
    EXPECT_FALSE(change.has_value()) << "applied: " << change->reason;
    return;
  }
  ASSERT_TRUE(change.has_value());
  EXPECT_EQ(change->reason, reason);
  EXPECT_EQ(change->knobs, knobs);
}

// One change to the inputs that fire a rule, and what the rule must then do.
struct Variant {
  const char* name;
  const char* reason;  // nullptr: no rule applies
  WorkerKnobs knobs;   // expected knobs after the change
  void (*change)(TuningInputs&);
};

void Unchanged(TuningInputs&) {}

// Each variant applied to its own copy of `base`.
void ExpectVariants(const TuningInputs& base, std::initializer_list<Variant> variants) {
  for (const Variant& variant : variants) {
    TuningInputs inputs = base;
    variant.change(inputs);
    ExpectRule(variant.name, inputs, variant.reason, variant.knobs);
  }
}

TEST(ApplyTuningRuleTest, QuietIntervalChangesNothing) { ExpectRule("quiet", Quiet(), nullptr); }

TEST(ApplyTuningRuleTest, AddsAWorkerWhileTheBacklogIsHealthy) {
  // A backlog of more than twice the 4 active workers.
  const TuningInputs healthy{.busy = {},
                             .throughput = 980.0,
                             .peak_throughput = 1000.0,
                             .backlog = 9,
                             .knobs = kQuietKnobs};
  ExpectVariants(
      healthy,
      {{"healthy", kMoreWorkers, {5, 4096, 4096, 8}, Unchanged},
       {"throughput exactly 0.97 of peak",
        kMoreWorkers,
        {5, 4096, 4096, 8},
        [](auto& in) { in.throughput = 0.97 * in.peak_throughput; }},
       {"backlog only twice the workers", nullptr, {}, [](auto& in) { in.backlog = 8; }},
       {"throughput below 0.97 of peak", nullptr, {}, [](auto& in) { in.throughput = 969.0; }},
       {"already at the maximum", nullptr, {}, [](auto& in) { in.knobs.active_workers = 8; }},
       {"huge active count does not overflow", nullptr, {}, [](auto& in) {
          in.backlog = UINT64_MAX;
          in.knobs.active_workers = UINT64_MAX / 2 + 1;
        }}});
  ExpectRule("first interval, nothing measured yet",
             TuningInputs{.busy = {}, .backlog = 100, .knobs = kQuietKnobs}, kMoreWorkers,
             {5, 4096, 4096, 8});
}

TEST(ApplyTuningRuleTest, DropsAWorkerWhenThroughputFallsWithNothingQueued) {
  // The line batch at its minimum keeps the batch rule out of the way.
  const TuningInputs fell{.busy = {},
                          .throughput = 930.0,
                          .peak_throughput = 1000.0,
                          .previous_throughput = 1000.0,
                          .knobs = {4, 256, 4096, 8}};
  ExpectVariants(
      fell,
      {{"fell", kFewerWorkers, {3, 256, 4096, 8}, Unchanged},
       {"fell to nothing", kFewerWorkers, {3, 256, 4096, 8}, [](auto& in) { in.throughput = 0.0; }},
       {"exactly 0.94 of previous",
        nullptr,
        {},
        [](auto& in) { in.throughput = 0.94 * in.previous_throughput; }},
       {"files still queued", nullptr, {}, [](auto& in) { in.backlog = 1; }},
       {"at the minimum", nullptr, {}, [](auto& in) { in.knobs.active_workers = 2; }},
       {"no previous throughput", nullptr, {}, [](auto& in) { in.previous_throughput = 0.0; }}});
}

TEST(ApplyTuningRuleTest, DoublesTheFlushWhenWritingDominatesCompression) {
  const TuningInputs write_heavy{.busy = {.compress = 1.0, .write = 1.31}, .knobs = kQuietKnobs};
  ExpectVariants(write_heavy, {{"doubles", kLargerFlush, {4, 4096, 8192, 8}, Unchanged},
                               {"stops at the maximum",
                                kLargerFlush,
                                {4, 4096, 32768, 8},
                                [](auto& in) { in.knobs.records_per_flush = 20000; }},
                               {"already at the maximum",
                                nullptr,
                                {},
                                [](auto& in) { in.knobs.records_per_flush = 32768; }},
                               {"write exactly 1.3 times compress", nullptr, {}, [](auto& in) {
                                  in.busy.write = 1.3 * in.busy.compress;
                                }}});
}

TEST(ApplyTuningRuleTest, LowersTheLevelWhenCompressionDominatesWriting) {
  const TuningInputs compress_heavy{.busy = {.compress = 1.21, .write = 1.0}, .knobs = kQuietKnobs};
  ExpectVariants(
      compress_heavy,
      {{"lowers", kLowerLevel, {4, 4096, 4096, 7}, Unchanged},
       {"never below 1", nullptr, {}, [](auto& in) { in.knobs.compression_level = 1; }},
       {"a level below 1 stays", nullptr, {}, [](auto& in) { in.knobs.compression_level = -5; }},
       {"compress exactly 1.2 times write", nullptr, {}, [](auto& in) {
          in.busy.compress = 1.2 * in.busy.write;
        }}});
}

TEST(ApplyTuningRuleTest, DoublesTheLineBatchWhenInputDominatesEncoding) {
  const TuningInputs input_heavy{.busy = {.read = 0.7, .decompress = 0.6, .encode = 1.0},
                                 .knobs = kQuietKnobs};
  ExpectVariants(input_heavy, {{"doubles", kLargerBatch, {4, 8192, 4096, 8}, Unchanged},
                               {"stops at the maximum",
                                kLargerBatch,
                                {4, 32768, 4096, 8},
                                [](auto& in) { in.knobs.line_batch_size = 20000; }},
                               {"already at the maximum", nullptr, {}, [](auto& in) {
                                  in.knobs.line_batch_size = 32768;
                                }}});
  ExpectRule("input exactly 1.2 times encode",
             TuningInputs{.busy = {.read = 1.2, .encode = 1.0}, .knobs = kQuietKnobs}, nullptr);
}

TEST(ApplyTuningRuleTest, HalvesTheLineBatchWhenThroughputRegressed) {
  // Under 0.96 of the previous throughput, above 0.94.
  const TuningInputs regressed{.busy = {},
                               .throughput = 950.0,
                               .peak_throughput = 1000.0,
                               .previous_throughput = 1000.0,
                               .knobs = kQuietKnobs};
  ExpectVariants(
      regressed,
      {{"halves", kSmallerBatch, {4, 2048, 4096, 8}, Unchanged},
       {"not below the minimum",
        kSmallerBatch,
        {4, 256, 4096, 8},
        [](auto& in) { in.knobs.line_batch_size = 300; }},
       {"odd size halves down",
        kSmallerBatch,
        {4, 512, 4096, 8},
        [](auto& in) { in.knobs.line_batch_size = 1025; }},
       {"at the minimum", nullptr, {}, [](auto& in) { in.knobs.line_batch_size = 256; }},
       {"exactly 0.96 of previous",
        nullptr,
        {},
        [](auto& in) { in.throughput = 0.96 * in.previous_throughput; }},
       // With files still queued the worker rule cannot apply, so a steep fall halves the batch.
       {"steep fall with a backlog", kSmallerBatch, {4, 2048, 4096, 8}, [](auto& in) {
          in.throughput = 0.0;
          in.backlog = 3;
        }}});
}

TEST(ApplyTuningRuleTest, EarlierRulesWinAndOnlyOneKnobMoves) {
  TuningInputs everything = Quiet();
  everything.backlog = 100;
  everything.busy.write = 5.0;
  everything.busy.compress = 1.0;
  everything.busy.read = 9.0;
  ExpectRule("workers before flush", everything, kMoreWorkers, {5, 4096, 4096, 8});

  everything.backlog = 0;
  everything.previous_throughput = 1000.0;
  everything.throughput = 100.0;
  everything.peak_throughput = 1000.0;
  ExpectRule("fewer workers before flush", everything, kFewerWorkers, {3, 4096, 4096, 8});

  everything.knobs.active_workers = 2;
  ExpectRule("flush before batch", everything, kLargerFlush, {2, 4096, 8192, 8});

  everything.busy.write = 1.0;
  everything.busy.compress = 5.0;
  ExpectRule("level before batch", everything, kLowerLevel, {2, 4096, 4096, 7});

  everything.knobs.compression_level = 1;
  ExpectRule("larger batch before smaller", everything, kLargerBatch, {2, 8192, 4096, 1});
}

TEST(IntervalThroughputTest, IsEncodedRecordsPerBusyEncodeSecond) {
  StageStatsSnapshot previous;
  previous.items_out = 100;
  previous.busy_seconds = 1.0;
  StageStatsSnapshot current = previous;
  EXPECT_EQ(IntervalThroughput(previous, current), 0.0);  // no file finished

  current.items_out = 300;
  current.busy_seconds = 1.5;
  EXPECT_EQ(IntervalThroughput(previous, current), 400.0);
}

// Collects decisions from the tuner thread.
class DecisionLog {
 public:
  Autotuner::DecisionCallback Callback() {
    return [this](const TuningDecision& decision) {
      const std::lock_guard lock(mutex_);
      decisions_.push_back(decision);
      threads_.push_back(std::this_thread::get_id());
    };
  }
  std::vector<TuningDecision> Decisions() const {
    const std::lock_guard lock(mutex_);
    return decisions_;
  }
  std::vector<std::thread::id> Threads() const {
    const std::lock_guard lock(mutex_);
    return threads_;
  }
  // Waits until at least `count` decisions arrived; false if they do not within a minute.
  bool WaitFor(std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (Decisions().size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<TuningDecision> decisions_;
  std::vector<std::thread::id> threads_;
};

struct TunerFixture {
  StageStats read, decompress, encode, compress, write;
  std::atomic<std::uint64_t> active_workers{2};
  std::atomic<std::uint64_t> line_batch_size{4096};
  std::atomic<std::uint64_t> records_per_flush{1024};
  std::atomic<std::int32_t> compression_level{6};
  DecisionLog log;

  Autotuner MakeTuner(double interval_seconds, Autotuner::BacklogFunction backlog) {
    AutotuneLimits limits = Limits();
    limits.lowest.active_workers = 1;
    limits.highest.active_workers = 5;
    limits.tuning_interval_seconds = interval_seconds;
    return Autotuner(limits, read, decompress, encode, compress, write, std::move(backlog),
                     active_workers, line_batch_size, records_per_flush, compression_level,
                     log.Callback());
  }
};

TEST(AutotunerTest, ReportsItsStartThenRaisesWorkersOnePerIntervalUpToTheMaximum) {
  TunerFixture fixture;
  Autotuner tuner = fixture.MakeTuner(0.01, [] { return std::uint64_t{100}; });
  tuner.Start();
  ASSERT_TRUE(fixture.log.WaitFor(4));
  // The stages stay idle, so once the pool is full no rule applies any more.
  std::this_thread::sleep_for(100ms);
  tuner.Stop();

  const std::vector<TuningDecision> decisions = fixture.log.Decisions();
  ASSERT_EQ(decisions.size(), 4u);
  EXPECT_EQ(decisions[0].reason, "Autotuner started.");
  EXPECT_EQ(decisions[0].elapsed_seconds, 0.0);
  EXPECT_EQ(decisions[0].throughput, 0.0);
  EXPECT_EQ(decisions[0].knobs, (WorkerKnobs{2, 4096, 1024, 6}));
  for (std::size_t i = 1; i < decisions.size(); ++i) {
    EXPECT_EQ(decisions[i].reason, kMoreWorkers);
    EXPECT_EQ(decisions[i].knobs.active_workers, 2 + i);
    EXPECT_EQ(decisions[i].knobs.line_batch_size, 4096u);
    EXPECT_GT(decisions[i].elapsed_seconds, decisions[i - 1].elapsed_seconds);
  }
  EXPECT_EQ(fixture.active_workers.load(), 5u);
  for (const std::thread::id id : fixture.log.Threads()) {
    EXPECT_NE(id, std::this_thread::get_id()) << "decisions are reported on the tuner thread";
  }
}

TEST(AutotunerTest, StopsPromptlyAndEmitsNothingAfterwards) {
  TunerFixture fixture;
  // An hour-long interval: a Stop that waited for it would hang the test.
  Autotuner tuner = fixture.MakeTuner(3600.0, Autotuner::BacklogFunction{});
  tuner.Start();
  ASSERT_TRUE(fixture.log.WaitFor(1));
  tuner.Stop();
  tuner.Stop();  // stopping twice is harmless
  EXPECT_EQ(fixture.log.Decisions().size(), 1u);
  EXPECT_EQ(fixture.active_workers.load(), 2u);
}

TEST(AutotunerTest, RestartBeginsAgainAndDestructionStopsTheThread) {
  TunerFixture fixture;
  {
    Autotuner tuner = fixture.MakeTuner(3600.0, [] { return std::uint64_t{0}; });
    tuner.Start();
    ASSERT_TRUE(fixture.log.WaitFor(1));
    tuner.Start();
    ASSERT_TRUE(fixture.log.WaitFor(2));
  }  // destroyed while running
  const std::vector<TuningDecision> decisions = fixture.log.Decisions();
  ASSERT_EQ(decisions.size(), 2u);
  EXPECT_EQ(decisions[1].reason, "Autotuner started.");
  EXPECT_EQ(decisions[1].elapsed_seconds, 0.0);
}

TEST(AutotunerTest, RunsWithoutACallback) {
  StageStats read, decompress, encode, compress, write;
  std::atomic<std::uint64_t> active{1}, batch{4096}, flush{4096};
  std::atomic<std::int32_t> level{3};
  AutotuneLimits limits = Limits();
  limits.lowest.active_workers = 1;
  limits.highest.active_workers = 3;
  limits.tuning_interval_seconds = 0.001;
  Autotuner tuner(
      limits, read, decompress, encode, compress, write, [] { return 50u; }, active, batch, flush,
      level, Autotuner::DecisionCallback{});
  tuner.Start();
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (active.load() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
  tuner.Stop();
  EXPECT_EQ(active.load(), 3u);
}

}  // namespace
}  // namespace boardmill::pipeline
