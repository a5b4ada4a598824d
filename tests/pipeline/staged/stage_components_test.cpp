#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#include "pipeline/shard_presence_mask.h"
#include "pipeline/staged/batch_ledger.h"
#include "pipeline/staged/shard_slots.h"
#include "pipeline/staged/shared_string_pool.h"
#include "pipeline/staged/stage_gate.h"
#include "pipeline/staged/stage_items.h"
#include "pipeline/staged/stage_statistics_files.h"
#include "test_support.h"

namespace boardmill::pipeline {
namespace {

using namespace std::chrono_literals;
using testing::ReadLines;
using testing::TempDir;

TEST(ShardPresenceMaskTest, RemembersRoutedShardsAndNeverAnswersYesAboveTheKeyRange) {
  ShardPresenceMask mask;
  EXPECT_TRUE(mask.Empty());
  mask.Set(0);
  mask.Set(255);
  EXPECT_FALSE(mask.Empty());
  EXPECT_TRUE(mask.Contains(0));
  EXPECT_TRUE(mask.Contains(255));
  EXPECT_FALSE(mask.Contains(1));
  EXPECT_FALSE(mask.Contains(256));
  EXPECT_FALSE(mask.Contains(4095));
}

ShardPresenceMask Shards(std::initializer_list<std::uint64_t> shards) {
  ShardPresenceMask mask;
  for (const std::uint64_t shard : shards) mask.Set(shard);
  return mask;
}

constexpr std::uint64_t kNoBudget = ~std::uint64_t{0};

TEST(BatchLedgerTest, BatchesSettleInInputOrderAndEachWriterLearnsOnlyItsOwn) {
  BatchLedger ledger(3, 4, kNoBudget, 0);
  // Batch 1 may be parsed before batch 0; file 1 is empty; file 2 completes before it is parsed.
  EXPECT_FALSE(ledger.MarkParsed({0, 1}, Shards({3}), 32));
  EXPECT_FALSE(ledger.MarkParsed({2, 0}, Shards({1, 3}), 64));
  EXPECT_FALSE(ledger.MarkParsed({0, 0}, Shards({}), 0));
  EXPECT_TRUE(ledger.CompleteFile(0, 2));
  EXPECT_TRUE(ledger.CompleteFile(1, 0));
  EXPECT_FALSE(ledger.CompleteFile(2, 2));
  std::vector<BatchKey> fed;
  const LedgerWaitResult partial = ledger.WaitForSettled(3, 0, fed);
  EXPECT_EQ(partial.outcome, LedgerWaitResult::Outcome::kSettled);
  EXPECT_EQ(fed, (std::vector<BatchKey>{{0, 1}, {2, 0}}));

  EXPECT_TRUE(ledger.MarkParsed({2, 1}, Shards({0}), 32));
  fed.clear();
  const LedgerWaitResult rest = ledger.WaitForSettled(3, partial.next_cursor, fed);
  EXPECT_EQ(rest.outcome, LedgerWaitResult::Outcome::kFinished);
  EXPECT_TRUE(fed.empty());
  fed.clear();
  EXPECT_EQ(ledger.WaitForSettled(0, 0, fed).outcome, LedgerWaitResult::Outcome::kFinished);
  EXPECT_EQ(fed, (std::vector<BatchKey>{{2, 1}}));
  EXPECT_EQ(ledger.WaitingRecordBytes(), 128U);
}

TEST(BatchLedgerTest, WritersWakeOnceEnoughRecordsSettledOrTheInputEnds) {
  BatchLedger ledger(1, 1, kNoBudget, 100);
  std::vector<BatchKey> fed;
  std::future<LedgerWaitResult> first =
      std::async(std::launch::async, [&] { return ledger.WaitForSettled(0, 0, fed); });
  ledger.MarkParsed({0, 0}, Shards({0}), 64);
  EXPECT_EQ(first.wait_for(30ms), std::future_status::timeout) << "woken for 64 bytes";
  ledger.MarkParsed({0, 1}, Shards({0}), 64);
  const LedgerWaitResult woken = first.get();
  EXPECT_EQ(woken.outcome, LedgerWaitResult::Outcome::kSettled);
  EXPECT_EQ(fed, (std::vector<BatchKey>{{0, 0}, {0, 1}}));

  std::vector<BatchKey> last;
  std::future<LedgerWaitResult> second = std::async(
      std::launch::async, [&] { return ledger.WaitForSettled(0, woken.next_cursor, last); });
  ledger.MarkParsed({0, 2}, Shards({0}), 32);
  EXPECT_EQ(second.wait_for(30ms), std::future_status::timeout);
  ledger.CompleteFile(0, 3);
  EXPECT_EQ(second.get().outcome, LedgerWaitResult::Outcome::kFinished);
  EXPECT_EQ(last, (std::vector<BatchKey>{{0, 2}}));
}

TEST(BatchLedgerTest, ASlowWriterStillGetsEveryBatchTheOthersHavePassed) {
  BatchLedger ledger(1, 2, kNoBudget, 0);
  std::vector<BatchKey> fast;
  std::uint64_t cursor = 0;
  for (std::uint64_t batch = 0; batch < 5; ++batch) {
    ledger.MarkParsed({0, batch}, Shards({0, 1}), 64);
    cursor = ledger.WaitForSettled(0, cursor, fast).next_cursor;
  }
  ledger.CompleteFile(0, 5);
  std::vector<BatchKey> slow;
  EXPECT_EQ(ledger.WaitForSettled(1, 0, slow).outcome, LedgerWaitResult::Outcome::kFinished);
  EXPECT_EQ(slow, fast);
  EXPECT_EQ(slow.size(), 5U);
}

TEST(BatchLedgerTest, OverBudgetOnlyTheFileEverythingWaitsForReadsUntilWritersMakeRoom) {
  BatchLedger ledger(2, 1, 100, 10);
  // File 1 is parsed ahead of file 0: its records cannot settle, so file 1 must wait and file 0
  // must not, or nothing would ever settle.
  ledger.MarkParsed({1, 0}, Shards({0}), 150);
  EXPECT_FALSE(ledger.WaitForReadRoom(0).aborted);
  std::future<ReadRoomWait> later_file =
      std::async(std::launch::async, [&] { return ledger.WaitForReadRoom(1); });
  EXPECT_EQ(later_file.wait_for(30ms), std::future_status::timeout);
  // File 1 is now the one everything waits for, but its settled records exceed half the budget:
  // it waits for the writers, who release them.
  ledger.MarkParsed({0, 0}, Shards({0}), 0);
  ledger.CompleteFile(0, 1);
  EXPECT_EQ(later_file.wait_for(30ms), std::future_status::timeout);
  ledger.ReleaseRecords(100);
  EXPECT_FALSE(later_file.get().aborted);
  EXPECT_EQ(ledger.WaitingRecordBytes(), 50U);
}

TEST(BatchLedgerTest, AbortReleasesWaitingWritersAndReaders) {
  BatchLedger ledger(2, 1, 10, 0);
  ledger.MarkParsed({1, 0}, Shards({0}), 64);
  std::vector<BatchKey> fed;
  std::future<LedgerWaitResult> writer =
      std::async(std::launch::async, [&] { return ledger.WaitForSettled(0, 0, fed); });
  std::future<ReadRoomWait> reader =
      std::async(std::launch::async, [&] { return ledger.WaitForReadRoom(1); });
  std::this_thread::sleep_for(20ms);
  ledger.Abort();
  EXPECT_EQ(writer.get().outcome, LedgerWaitResult::Outcome::kAborted);
  EXPECT_TRUE(reader.get().aborted);
}

TEST(ShardSlotTest, HandsOutEntriesByKeyWhateverTheOrderTheyCameIn) {
  ShardSlot<std::string> slot;
  std::atomic<bool> stop{false};
  slot.Put({1, 0}, "second file");
  slot.Put({0, 2}, "first file");
  EXPECT_EQ(slot.Size(), 2U);
  EXPECT_EQ(slot.Take({0, 2}, stop).value, "first file");
  EXPECT_EQ(slot.Take({1, 0}, stop).value, "second file");
  EXPECT_EQ(slot.Size(), 0U);
}

TEST(ShardSlotTest, ATakeWaitsForItsKeyAndGivesUpWhenTheRunStops) {
  ShardSlot<std::string> slot;
  std::atomic<bool> stop{false};
  std::future<SlotTake<std::string>> waiting = std::async(std::launch::async, [&] {
    return slot.Take({0, 1}, stop);
  });
  slot.Put({0, 0}, "other");
  EXPECT_EQ(waiting.wait_for(30ms), std::future_status::timeout);
  slot.Put({0, 1}, "mine");
  const SlotTake<std::string> taken = waiting.get();
  EXPECT_EQ(taken.value, "mine");
  EXPECT_GT(taken.waited_seconds, 0.0);

  std::future<SlotTake<std::string>> stopped = std::async(std::launch::async, [&] {
    return slot.Take({5, 5}, stop);
  });
  std::this_thread::sleep_for(20ms);
  stop = true;
  slot.WakeAll();
  EXPECT_FALSE(stopped.get().value.has_value());
}

TEST(SharedStringPoolTest, RecyclesReleasedBuffersUpToItsLimit) {
  SharedStringPool pool(1);
  std::shared_ptr<std::string> first = pool.Acquire(1000);
  std::shared_ptr<std::string> second = pool.Acquire(10);
  EXPECT_TRUE(first->empty());
  EXPECT_GE(first->capacity(), 1000U);
  first->assign(500, 'x');
  const char* storage = first->data();
  first.reset();
  second.reset();  // the pool already holds one: this one is destroyed
  EXPECT_EQ(pool.FreeCount(), 1U);
  const std::shared_ptr<std::string> reused = pool.Acquire(100);
  EXPECT_TRUE(reused->empty());
  EXPECT_EQ(reused->data(), storage);
  EXPECT_EQ(pool.FreeCount(), 0U);
}

TEST(RecyclingPoolTest, ClearsParseItemsOnTheWayBack) {
  RecyclingPool<ParseItem> pool(4);
  std::shared_ptr<ParseItem> item = pool.Acquire();
  item->file_index = 3;
  item->owned_lines.emplace_back("line");
  item->lines.resize(1000);
  item.reset();
  const std::shared_ptr<ParseItem> again = pool.Acquire();
  EXPECT_EQ(again->file_index, 0U);
  EXPECT_TRUE(again->owned_lines.empty());
  EXPECT_TRUE(again->lines.empty());
  EXPECT_GE(again->lines.capacity(), 1000U);  // the capacity is what recycling keeps
}

class StageGateTest : public ::testing::Test {
 protected:
  WorkerStats worker_;
  StageStats stage_;
  StageThreadStats stats_{worker_, stage_};
  std::atomic<bool> stop_{false};
};

TEST_F(StageGateTest, AdmitsWorkersBelowTheActiveCountAtOnce) {
  StageGate gate(2);
  EXPECT_TRUE(gate.Admit(
      0, stop_, [] { return false; }, stats_));
  EXPECT_TRUE(gate.Admit(
      1, stop_, [] { return false; }, stats_));
  EXPECT_EQ(StageGate(0).Active(), 1U);
}

TEST_F(StageGateTest, HoldsAThrottledWorkerUntilItIsActivatedOrMayPass) {
  StageGate gate(1);
  std::future<bool> held = std::async(std::launch::async, [&] {
    return gate.Admit(
        1, stop_, [] { return false; }, stats_);
  });
  EXPECT_EQ(held.wait_for(150ms), std::future_status::timeout);
  EXPECT_EQ(worker_.State(), WorkerState::kThrottled);
  gate.SetActive(2);
  EXPECT_TRUE(held.get());
  EXPECT_GT(worker_.Snapshot().idle_seconds, 0.0);
  EXPECT_GT(stage_.Snapshot().idle_seconds, 0.0);

  gate.SetActive(1);
  std::atomic<bool> may_pass{false};
  std::future<bool> drained = std::async(std::launch::async, [&] {
    return gate.Admit(
        1, stop_, [&] { return may_pass.load(); }, stats_);
  });
  EXPECT_EQ(drained.wait_for(50ms), std::future_status::timeout);
  may_pass = true;  // seen at the next re-check, at most 100 ms later
  EXPECT_EQ(drained.wait_for(2s), std::future_status::ready);
  EXPECT_TRUE(drained.get());
}

TEST_F(StageGateTest, RefusesEveryWorkerOnceTheRunStops) {
  StageGate gate(1);
  std::future<bool> held = std::async(std::launch::async, [&] {
    return gate.Admit(
        3, stop_, [] { return false; }, stats_);
  });
  std::this_thread::sleep_for(20ms);
  stop_ = true;
  gate.WakeAll();
  EXPECT_FALSE(held.get());
  EXPECT_FALSE(gate.Admit(
      0, stop_, [] { return true; }, stats_));
}

TEST(WorkerStateNameTest, NamesEveryStateAndUnknownValues) {
  const char* names[] = {"starting",      "idle",         "busy",
                         "blocked-empty", "blocked-full", "blocked-ordered-write",
                         "throttled",     "finished"};
  for (std::uint32_t state = 0; state < 8; ++state) EXPECT_EQ(WorkerStateName(state), names[state]);
  EXPECT_EQ(WorkerStateName(8), "unknown");
}

TEST(StageStatisticsFilesTest, DepthAverageIsZeroWithoutSamplesAndOtherwiseSumOverSamples) {
  TempDir dir;
  StageStatsSnapshot sampled;
  sampled.queue_samples = 4;
  sampled.queue_depth_sum = 10;
  sampled.queue_depth_max = 7;
  sampled.busy_seconds = 1.0 / 3.0;
  const StageStatsRow rows[] = {{"reader", 2, StageStatsSnapshot{}}, {"write", 256, sampled}};
  ASSERT_TRUE(WriteStageStatsFile(dir / "stage-stats.tsv", rows).ok());
  const std::vector<std::string> lines = ReadLines(dir / "stage-stats.tsv");
  ASSERT_EQ(lines.size(), 3U);
  EXPECT_EQ(lines[1],
            "reader\t2\t0\t0\t0\t0\t0\t0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t0\t"
            "0.000000\t0");
  EXPECT_EQ(lines[2],
            "write\t256\t0\t0\t0\t0\t0\t0.333333\t0.000000\t0.000000\t0.000000\t0.000000\t4\t"
            "2.500000\t7");
}

TEST(StageStatisticsFilesTest, RowsFollowTheColumnOrderOfEachFile) {
  TempDir dir;
  WorkerStatsSnapshot worker;
  worker.batches = 1;
  worker.items_in = 2;
  worker.items_out = 3;
  worker.bytes_in = 4;
  worker.bytes_out = 5;
  worker.max_batch_items = 6;
  worker.max_batch_bytes = 7;
  worker.busy_seconds = 0.5;
  worker.blocked_order_seconds = 2.25;
  worker.state = static_cast<std::uint32_t>(WorkerState::kFinished);
  const WorkerStatsRow worker_rows[] = {{"write", 9, worker}};
  ASSERT_TRUE(WriteWorkerStatsFile(dir / "w.tsv", worker_rows).ok());
  EXPECT_EQ(ReadLines(dir / "w.tsv").at(1),
            "write\t9\tfinished\t1\t2\t3\t4\t5\t6\t7\t0.500000\t0.000000\t0.000000\t0.000000\t"
            "2.250000");

  const QueueSampleRow queue_rows[] = {{1.5, {1, 2, 3, 4, 5, 6}}};
  ASSERT_TRUE(WriteQueueStatsFile(dir / "q.tsv", queue_rows).ok());
  EXPECT_EQ(ReadLines(dir / "q.tsv").at(1), "1.500000\t1\t2\t3\t4\t5\t6");

  ControllerRow controller;
  controller.elapsed_seconds = 2.0;
  controller.active = {1, 2, 3, 4, 5};
  controller.depths = {6, 7, 8, 9, 10, 11};
  controller.ratios[0] = {0.1, 0.2, 0.3};
  controller.ratios[4] = {0.4, 0.5, 0.6};
  controller.write_busy_ratio = 0.7;
  controller.items_out_deltas = {12, 13, 14, 15, 16, 17};
  controller.action = "compress+2";
  controller.reason = "compress-backlog from reader from parse";
  const ControllerRow controller_rows[] = {controller};
  ASSERT_TRUE(WriteControllerStatsFile(dir / "c.tsv", controller_rows).ok());
  EXPECT_EQ(ReadLines(dir / "c.tsv").at(1),
            "2.000000\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t11\t0.100000\t0.200000\t0.300000\t"
            "0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t0.000000\t"
            "0.000000\t0.400000\t0.500000\t0.600000\t0.700000\t12\t13\t14\t15\t16\t17\t"
            "compress+2\tcompress-backlog from reader from parse");
}

}  // namespace
}  // namespace boardmill::pipeline
