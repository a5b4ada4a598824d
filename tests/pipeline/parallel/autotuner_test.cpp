#include "pipeline/parallel/autotuner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
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

// An interval in which nothing happened: no rule applies.
TuningInputs Quiet() {
  TuningInputs inputs;
  inputs.knobs = WorkerKnobs{4, 4096, 4096, 8};
  return inputs;
}

struct RuleCase {
  const char* name;
  TuningInputs inputs;
  const char* reason;  // nullptr: no rule applies
  WorkerKnobs knobs;   // expected knobs after the change
};

template <typename Change>
TuningInputs QuietWith(Change change) {
  TuningInputs inputs = Quiet();
  change(inputs);
  return inputs;
}

void ExpectRule(const RuleCase& rule) {
  SCOPED_TRACE(rule.name);
  const std::optional<TuningChange> change = ApplyTuningRule(Limits(), rule.inputs);
  if (rule.reason == nullptr) {
    EXPECT_FALSE(change.has_value()) << "applied: " << change->reason;
    return;
  }
  ASSERT_TRUE(change.has_value());
  EXPECT_EQ(change->reason, rule.reason);
  EXPECT_EQ(change->knobs, rule.knobs);
}

TEST(ApplyTuningRuleTest, QuietIntervalChangesNothing) {
  ExpectRule({"quiet", Quiet(), nullptr, {}});
}

TEST(ApplyTuningRuleTest, AddsAWorkerWhileTheBacklogIsHealthy) {
  const auto healthy = [](TuningInputs& in) {
    in.backlog = 9;  // more than twice the 4 active workers
    in.peak_throughput = 1000.0;
    in.throughput = 980.0;
  };
  ExpectRule({"healthy", QuietWith(healthy), kMoreWorkers, {5, 4096, 4096, 8}});
  ExpectRule({"throughput exactly 0.97 of peak",
              QuietWith([&](TuningInputs& in) {
                healthy(in);
                in.throughput = 0.97 * in.peak_throughput;
              }),
              kMoreWorkers,
              {5, 4096, 4096, 8}});
  ExpectRule({"first interval, nothing measured yet",
              QuietWith([](TuningInputs& in) { in.backlog = 100; }),
              kMoreWorkers,
              {5, 4096, 4096, 8}});
  ExpectRule({"backlog only twice the workers",
              QuietWith([&](TuningInputs& in) {
                healthy(in);
                in.backlog = 8;
              }),
              nullptr,
              {}});
  ExpectRule({"throughput below 0.97 of peak",
              QuietWith([&](TuningInputs& in) {
                healthy(in);
                in.throughput = 969.0;
              }),
              nullptr,
              {}});
  ExpectRule({"already at the maximum",
              QuietWith([&](TuningInputs& in) {
                healthy(in);
                in.knobs.active_workers = 8;
              }),
              nullptr,
              {}});
  ExpectRule({"huge active count does not overflow",
              QuietWith([&](TuningInputs& in) {
                healthy(in);
                in.backlog = UINT64_MAX;
                in.knobs.active_workers = UINT64_MAX / 2 + 1;
              }),
              nullptr,
              {}});
}

TEST(ApplyTuningRuleTest, DropsAWorkerWhenThroughputFallsWithNothingQueued) {
  const auto fell = [](TuningInputs& in) {
    in.previous_throughput = 1000.0;
    in.peak_throughput = 1000.0;
    in.throughput = 930.0;
    in.knobs.line_batch_size = 256;  // keeps the batch rule out of the way
  };
  ExpectRule({"fell", QuietWith(fell), kFewerWorkers, {3, 256, 4096, 8}});
  ExpectRule({"fell to nothing",
              QuietWith([&](TuningInputs& in) {
                fell(in);
                in.throughput = 0.0;
              }),
              kFewerWorkers,
              {3, 256, 4096, 8}});
  ExpectRule({"exactly 0.94 of previous",
              QuietWith([&](TuningInputs& in) {
                fell(in);
                in.throughput = 0.94 * in.previous_throughput;
              }),
              nullptr,
              {}});
  ExpectRule({"files still queued",
              QuietWith([&](TuningInputs& in) {
                fell(in);
                in.backlog = 1;
              }),
              nullptr,
              {}});
  ExpectRule({"at the minimum",
              QuietWith([&](TuningInputs& in) {
                fell(in);
                in.knobs.active_workers = 2;
              }),
              nullptr,
              {}});
  ExpectRule({"no previous throughput",
              QuietWith([&](TuningInputs& in) {
                fell(in);
                in.previous_throughput = 0.0;
              }),
              nullptr,
              {}});
}

TEST(ApplyTuningRuleTest, DoublesTheFlushWhenWritingDominatesCompression) {
  const auto write_heavy = [](TuningInputs& in) {
    in.busy.write = 1.31;
    in.busy.compress = 1.0;
  };
  ExpectRule({"doubles", QuietWith(write_heavy), kLargerFlush, {4, 4096, 8192, 8}});
  ExpectRule({"stops at the maximum",
              QuietWith([&](TuningInputs& in) {
                write_heavy(in);
                in.knobs.records_per_flush = 20000;
              }),
              kLargerFlush,
              {4, 4096, 32768, 8}});
  ExpectRule({"already at the maximum",
              QuietWith([&](TuningInputs& in) {
                write_heavy(in);
                in.knobs.records_per_flush = 32768;
              }),
              nullptr,
              {}});
  ExpectRule({"write exactly 1.3 times compress",
              QuietWith([](TuningInputs& in) {
                in.busy.compress = 1.0;
                in.busy.write = 1.3 * in.busy.compress;
              }),
              nullptr,
              {}});
}

TEST(ApplyTuningRuleTest, LowersTheLevelWhenCompressionDominatesWriting) {
  const auto compress_heavy = [](TuningInputs& in) {
    in.busy.compress = 1.21;
    in.busy.write = 1.0;
  };
  ExpectRule({"lowers", QuietWith(compress_heavy), kLowerLevel, {4, 4096, 4096, 7}});
  ExpectRule({"never below 1",
              QuietWith([&](TuningInputs& in) {
                compress_heavy(in);
                in.knobs.compression_level = 1;
              }),
              nullptr,
              {}});
  ExpectRule({"a level below 1 stays",
              QuietWith([&](TuningInputs& in) {
                compress_heavy(in);
                in.knobs.compression_level = -5;
              }),
              nullptr,
              {}});
  ExpectRule({"compress exactly 1.2 times write",
              QuietWith([](TuningInputs& in) {
                in.busy.write = 1.0;
                in.busy.compress = 1.2 * in.busy.write;
              }),
              nullptr,
              {}});
}

TEST(ApplyTuningRuleTest, DoublesTheLineBatchWhenInputDominatesEncoding) {
  const auto input_heavy = [](TuningInputs& in) {
    in.busy.read = 0.7;
    in.busy.decompress = 0.6;
    in.busy.encode = 1.0;
  };
  ExpectRule({"doubles", QuietWith(input_heavy), kLargerBatch, {4, 8192, 4096, 8}});
  ExpectRule({"stops at the maximum",
              QuietWith([&](TuningInputs& in) {
                input_heavy(in);
                in.knobs.line_batch_size = 20000;
              }),
              kLargerBatch,
              {4, 32768, 4096, 8}});
  ExpectRule({"already at the maximum",
              QuietWith([&](TuningInputs& in) {
                input_heavy(in);
                in.knobs.line_batch_size = 32768;
              }),
              nullptr,
              {}});
  ExpectRule({"input exactly 1.2 times encode",
              QuietWith([](TuningInputs& in) {
                in.busy.read = 1.2;
                in.busy.encode = 1.0;
              }),
              nullptr,
              {}});
}

TEST(ApplyTuningRuleTest, HalvesTheLineBatchWhenThroughputRegressed) {
  const auto regressed = [](TuningInputs& in) {
    in.previous_throughput = 1000.0;
    in.peak_throughput = 1000.0;
    in.throughput = 950.0;  // under 0.96 of the previous, above 0.94
  };
  ExpectRule({"halves", QuietWith(regressed), kSmallerBatch, {4, 2048, 4096, 8}});
  ExpectRule({"not below the minimum",
              QuietWith([&](TuningInputs& in) {
                regressed(in);
                in.knobs.line_batch_size = 300;
              }),
              kSmallerBatch,
              {4, 256, 4096, 8}});
  ExpectRule({"odd size halves down",
              QuietWith([&](TuningInputs& in) {
                regressed(in);
                in.knobs.line_batch_size = 1025;
              }),
              kSmallerBatch,
              {4, 512, 4096, 8}});
  ExpectRule({"at the minimum",
              QuietWith([&](TuningInputs& in) {
                regressed(in);
                in.knobs.line_batch_size = 256;
              }),
              nullptr,
              {}});
  ExpectRule({"exactly 0.96 of previous",
              QuietWith([&](TuningInputs& in) {
                regressed(in);
                in.throughput = 0.96 * in.previous_throughput;
              }),
              nullptr,
              {}});
  // With files still queued the worker rule cannot apply, so a steep fall halves the batch.
  ExpectRule({"steep fall with a backlog",
              QuietWith([&](TuningInputs& in) {
                regressed(in);
                in.throughput = 0.0;
                in.backlog = 3;
              }),
              kSmallerBatch,
              {4, 2048, 4096, 8}});
}

TEST(ApplyTuningRuleTest, EarlierRulesWinAndOnlyOneKnobMoves) {
  TuningInputs everything = Quiet();
  everything.backlog = 100;
  everything.busy.write = 5.0;
  everything.busy.compress = 1.0;
  everything.busy.read = 9.0;
  ExpectRule({"workers before flush", everything, kMoreWorkers, {5, 4096, 4096, 8}});

  everything.backlog = 0;
  everything.previous_throughput = 1000.0;
  everything.throughput = 100.0;
  everything.peak_throughput = 1000.0;
  ExpectRule({"fewer workers before flush", everything, kFewerWorkers, {3, 4096, 4096, 8}});

  everything.knobs.active_workers = 2;
  ExpectRule({"flush before batch", everything, kLargerFlush, {2, 4096, 8192, 8}});

  everything.busy.write = 1.0;
  everything.busy.compress = 5.0;
  ExpectRule({"level before batch", everything, kLowerLevel, {2, 4096, 4096, 7}});

  everything.knobs.compression_level = 1;
  ExpectRule({"larger batch before smaller", everything, kLargerBatch, {2, 8192, 4096, 1}});
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
