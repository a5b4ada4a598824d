#include "pipeline/bounded_queue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace boardmill::pipeline {
namespace {

using namespace std::chrono_literals;

// Gives a thread that has announced itself time to block inside the queue. Only used where a
// slow thread can make the test miss a fault, never fail a sound queue.
void LetThreadBlock(const std::atomic<bool>& started) {
  while (!started.load()) std::this_thread::yield();
  std::this_thread::sleep_for(100ms);
}

TEST(BoundedQueueTest, HandsOutItemsInPushOrderAndReportsSizes) {
  BoundedQueue<int> queue(3);
  for (int value = 1; value <= 3; ++value) {
    const QueuePushResult pushed = queue.Push(value);
    EXPECT_TRUE(pushed.pushed);
    EXPECT_FALSE(pushed.report.had_to_wait);
    EXPECT_EQ(pushed.report.waited_seconds, 0.0);
    EXPECT_EQ(pushed.report.size_after_push, static_cast<std::uint64_t>(value));
  }
  EXPECT_EQ(queue.Size(), 3u);
  for (int expected = 1; expected <= 3; ++expected) {
    const QueuePopResult<int> popped = queue.Pop();
    ASSERT_TRUE(popped.item.has_value());
    EXPECT_EQ(*popped.item, expected);
    EXPECT_FALSE(popped.report.had_to_wait);
  }
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(BoundedQueueTest, ClosedQueueDrainsItsItemsThenReturnsNothing) {
  BoundedQueue<int> queue(4);
  ASSERT_TRUE(queue.Push(7).pushed);
  ASSERT_TRUE(queue.Push(8).pushed);
  queue.Close();
  queue.Close();  // closing twice changes nothing

  EXPECT_EQ(queue.Pop().item, 7);
  EXPECT_EQ(queue.Pop().item, 8);
  const QueuePopResult<int> drained = queue.Pop();
  EXPECT_FALSE(drained.item.has_value());
  EXPECT_FALSE(drained.report.had_to_wait);
  EXPECT_FALSE(queue.Pop().item.has_value());
}

TEST(BoundedQueueTest, PushOnClosedQueueDropsTheItemWithoutWaitingEvenWhenFull) {
  BoundedQueue<int> queue(1);
  ASSERT_TRUE(queue.Push(1).pushed);
  queue.Close();

  const QueuePushResult dropped = queue.Push(2);
  EXPECT_FALSE(dropped.pushed);
  EXPECT_FALSE(dropped.report.had_to_wait);
  EXPECT_EQ(dropped.report.size_after_push, 1u);
  EXPECT_EQ(queue.Size(), 1u);
  EXPECT_EQ(queue.Pop().item, 1);
  EXPECT_FALSE(queue.Pop().item.has_value());
}

TEST(BoundedQueueTest, HighWaterMarkNeverDecreasesAndStaysWithinCapacity) {
  BoundedQueue<int> queue(3);
  EXPECT_EQ(queue.HighWaterMark(), 0u);
  queue.Push(1);
  queue.Push(2);
  EXPECT_EQ(queue.HighWaterMark(), 2u);
  queue.Pop();
  queue.Pop();
  EXPECT_EQ(queue.HighWaterMark(), 2u);
  queue.Push(3);
  queue.Push(4);
  queue.Push(5);
  queue.Close();
  queue.Push(6);
  EXPECT_EQ(queue.HighWaterMark(), 3u);
}

TEST(BoundedQueueTest, ZeroCapacityAcceptsOneItemInsteadOfBlockingForever) {
  BoundedQueue<int> queue(0);
  EXPECT_EQ(queue.Capacity(), 1u);
  const QueuePushResult pushed = queue.Push(1);
  EXPECT_TRUE(pushed.pushed);
  EXPECT_FALSE(pushed.report.had_to_wait);
}

TEST(BoundedQueueTest, CarriesMoveOnlyItems) {
  BoundedQueue<std::unique_ptr<int>> queue(2);
  ASSERT_TRUE(queue.Push(std::make_unique<int>(42)).pushed);
  QueuePopResult<std::unique_ptr<int>> popped = queue.Pop();
  ASSERT_TRUE(popped.item.has_value());
  ASSERT_NE(*popped.item, nullptr);
  EXPECT_EQ(**popped.item, 42);
}

TEST(BoundedQueueTest, CapacityOneMakesASecondPushWaitForThePop) {
  BoundedQueue<int> queue(1);
  ASSERT_TRUE(queue.Push(1).pushed);

  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  QueuePushResult second;
  std::thread pusher([&] {
    started = true;
    second = queue.Push(2);
    finished = true;
  });
  LetThreadBlock(started);
  EXPECT_FALSE(finished.load()) << "a push into a full queue must wait";

  const QueuePopResult<int> first = queue.Pop();
  pusher.join();
  EXPECT_EQ(first.item, 1);
  EXPECT_TRUE(second.pushed);
  EXPECT_TRUE(second.report.had_to_wait);
  EXPECT_GT(second.report.waited_seconds, 0.0);
  EXPECT_EQ(second.report.size_after_push, 1u);
  EXPECT_EQ(queue.Pop().item, 2);
  EXPECT_EQ(queue.HighWaterMark(), 1u);
}

TEST(BoundedQueueTest, PopOnEmptyQueueWaitsForThePush) {
  BoundedQueue<int> queue(2);
  std::atomic<bool> started{false};
  QueuePopResult<int> popped;
  std::thread popper([&] {
    started = true;
    popped = queue.Pop();
  });
  LetThreadBlock(started);
  queue.Push(5);
  popper.join();
  EXPECT_EQ(popped.item, 5);
  EXPECT_TRUE(popped.report.had_to_wait);
  EXPECT_GT(popped.report.waited_seconds, 0.0);
}

TEST(BoundedQueueTest, CloseWakesEveryWaitingPusherAndPopper) {
  BoundedQueue<int> empty_queue(1);
  BoundedQueue<int> full_queue(1);
  full_queue.Push(0);

  constexpr int kWaitersPerQueue = 3;
  std::atomic<int> started{0};
  std::atomic<int> pops_without_item{0};
  std::atomic<int> pushes_refused{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaitersPerQueue; ++i) {
    waiters.emplace_back([&] {
      ++started;
      if (!empty_queue.Pop().item.has_value()) ++pops_without_item;
    });
    waiters.emplace_back([&, i] {
      ++started;
      if (!full_queue.Push(i + 1).pushed) ++pushes_refused;
    });
  }
  while (started.load() < 2 * kWaitersPerQueue) std::this_thread::yield();
  std::this_thread::sleep_for(100ms);

  empty_queue.Close();
  full_queue.Close();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(pops_without_item.load(), kWaitersPerQueue);
  EXPECT_EQ(pushes_refused.load(), kWaitersPerQueue);
  EXPECT_EQ(full_queue.Pop().item, 0);
}

TEST(BoundedQueueTest, ManyProducersAndConsumersPassEveryItemExactlyOnceInProducerOrder) {
  constexpr int kProducers = 4;
  constexpr int kConsumers = 3;
  constexpr int kItemsPerProducer = 2000;
  constexpr std::uint64_t kCapacity = 8;
  BoundedQueue<int> queue(kCapacity);

  std::vector<std::vector<int>> consumed(kConsumers);
  std::vector<std::thread> consumers;
  for (int c = 0; c < kConsumers; ++c) {
    consumers.emplace_back([&queue, &received = consumed[c]] {
      while (std::optional<int> item = queue.Pop().item) received.push_back(*item);
    });
  }
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&queue, p] {
      for (int i = 0; i < kItemsPerProducer; ++i) {
        EXPECT_TRUE(queue.Push(p * kItemsPerProducer + i).pushed);
      }
    });
  }
  for (std::thread& producer : producers) producer.join();
  queue.Close();
  for (std::thread& consumer : consumers) consumer.join();

  std::vector<int> all;
  for (const std::vector<int>& received : consumed) {
    // A consumer sees each producer's items in the order they were pushed.
    std::vector<int> last_seen(kProducers, -1);
    for (const int item : received) {
      const int producer = item / kItemsPerProducer;
      EXPECT_GT(item, last_seen[producer]);
      last_seen[producer] = item;
    }
    all.insert(all.end(), received.begin(), received.end());
  }
  std::sort(all.begin(), all.end());
  ASSERT_EQ(all.size(), static_cast<std::size_t>(kProducers * kItemsPerProducer));
  for (std::size_t i = 0; i < all.size(); ++i) ASSERT_EQ(all[i], static_cast<int>(i));
  EXPECT_LE(queue.HighWaterMark(), kCapacity);
  EXPECT_GE(queue.HighWaterMark(), 1u);
}

}  // namespace
}  // namespace boardmill::pipeline
