#include "pipeline/parallel/worker_memory.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace boardmill::pipeline {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

TEST(WorkerMemoryTest, TheCeilingCapsTheWorkersAndSharesWhatIsLeftAsRecordBudget) {
  const ConversionOptions options;
  const std::uint64_t one = MinimumWorkerMemoryBytes(options);

  const WorkerMemoryPlan none = PlanWorkerMemory(options, one - 1, 8);
  EXPECT_EQ(none.memory_worker_cap, 0U);
  EXPECT_EQ(none.workers, 0U);

  // Room for three workers at the floor: three of the eight wanted run, each with its share.
  const WorkerMemoryPlan three = PlanWorkerMemory(options, 3 * one + 3 * kMiB, 8);
  EXPECT_EQ(three.memory_worker_cap, 3U);
  EXPECT_EQ(three.workers, 3U);
  EXPECT_EQ(three.fixed_bytes + three.record_budget_bytes, one + kMiB);
  EXPECT_LE(three.workers * (three.fixed_bytes + three.record_budget_bytes), 3 * one + 3 * kMiB);

  // A large ceiling lets every wanted worker run, with the largest record budget.
  const WorkerMemoryPlan roomy = PlanWorkerMemory(options, std::uint64_t{64} << 30, 8);
  EXPECT_EQ(roomy.workers, 8U);
  EXPECT_EQ(roomy.record_budget_bytes, 64 * kMiB);
}

TEST(WorkerMemoryTest, EverySettingThatGrowsAWorkerRaisesItsNeed) {
  ConversionOptions options;
  const std::uint64_t base = MinimumWorkerMemoryBytes(options);
  ConversionOptions higher_level = options;
  higher_level.compression_level = 19;
  EXPECT_GT(MinimumWorkerMemoryBytes(higher_level), base);
  ConversionOptions larger_batches = options;
  larger_batches.line_batch_size = std::uint64_t{1} << 22;
  EXPECT_GT(MinimumWorkerMemoryBytes(larger_batches), base + (std::uint64_t{1} << 22) * 8);
}

}  // namespace
}  // namespace boardmill::pipeline
