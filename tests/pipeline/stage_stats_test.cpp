#include "pipeline/stage_stats.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace boardmill::pipeline {
namespace {

TEST(StageStatsTest, EachAddLandsInItsOwnField) {
  StageStats stats;
  const StageStatsSnapshot fresh = stats.Snapshot();
  EXPECT_EQ(fresh.items_in, 0u);
  EXPECT_EQ(fresh.queue_depth_max, 0u);
  EXPECT_EQ(fresh.blocked_order_seconds, 0.0);

  // Distinct values per field, added twice, so a crossed wire or a store instead of an add shows.
  for (int round = 0; round < 2; ++round) {
    stats.AddItemsIn(1);
    stats.AddItemsOut(2);
    stats.AddBytesIn(3);
    stats.AddBytesOut(4);
    stats.AddBatches(5);
    stats.AddBusySeconds(0.5);
    stats.AddIdleSeconds(0.25);
    stats.AddBlockedEmptySeconds(1.5);
    stats.AddBlockedFullSeconds(2.5);
    stats.AddBlockedOrderSeconds(4.0);
  }
  const StageStatsSnapshot snapshot = stats.Snapshot();
  EXPECT_EQ(snapshot.items_in, 2u);
  EXPECT_EQ(snapshot.items_out, 4u);
  EXPECT_EQ(snapshot.bytes_in, 6u);
  EXPECT_EQ(snapshot.bytes_out, 8u);
  EXPECT_EQ(snapshot.batches, 10u);
  EXPECT_EQ(snapshot.busy_seconds, 1.0);
  EXPECT_EQ(snapshot.idle_seconds, 0.5);
  EXPECT_EQ(snapshot.blocked_empty_seconds, 3.0);
  EXPECT_EQ(snapshot.blocked_full_seconds, 5.0);
  EXPECT_EQ(snapshot.blocked_order_seconds, 8.0);
  EXPECT_EQ(snapshot.queue_samples, 0u);
  EXPECT_EQ(snapshot.queue_depth_sum, 0u);
  EXPECT_EQ(snapshot.queue_depth_max, 0u);
}

TEST(StageStatsTest, QueueDepthSamplesSumAndKeepTheLargestDepth) {
  StageStats stats;
  for (const std::uint64_t depth : {5, 9, 3, 0}) stats.RecordQueueDepth(depth);
  const StageStatsSnapshot snapshot = stats.Snapshot();
  EXPECT_EQ(snapshot.queue_samples, 4u);
  EXPECT_EQ(snapshot.queue_depth_sum, 17u);
  EXPECT_EQ(snapshot.queue_depth_max, 9u);
}

TEST(StageStatsTest, ConcurrentUpdatesLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 20000;
  StageStats stats;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&stats, t] {
      for (int i = 0; i < kRounds; ++i) {
        stats.AddItemsOut(1);
        stats.AddBytesIn(3);
        // Multiples of 1/4 add up exactly, so any lost update shows in the sum.
        stats.AddBusySeconds(0.25);
        stats.AddBlockedFullSeconds(0.5);
        stats.RecordQueueDepth(static_cast<std::uint64_t>(t * kRounds + i));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  const StageStatsSnapshot snapshot = stats.Snapshot();
  constexpr std::uint64_t kTotal = kThreads * kRounds;
  EXPECT_EQ(snapshot.items_out, kTotal);
  EXPECT_EQ(snapshot.bytes_in, 3 * kTotal);
  EXPECT_EQ(snapshot.busy_seconds, 0.25 * kTotal);
  EXPECT_EQ(snapshot.blocked_full_seconds, 0.5 * kTotal);
  EXPECT_EQ(snapshot.queue_samples, kTotal);
  EXPECT_EQ(snapshot.queue_depth_sum, kTotal * (kTotal - 1) / 2);
  EXPECT_EQ(snapshot.queue_depth_max, kTotal - 1);
}

}  // namespace
}  // namespace boardmill::pipeline
