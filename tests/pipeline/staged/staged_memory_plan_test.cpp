#include "pipeline/staged/staged_memory_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "chess/packed_sfen.h"
#include "run/memory_ceiling.h"

namespace boardmill::pipeline {
namespace {

// What a two-thread machine runs by default: pools of 2, 2, 2, 1 and 4 threads.
StagedMemoryInputs DefaultInputs(std::uint64_t shards = 256) {
  return StagedMemoryInputs{shards, 262144, 8, {2, 2, 2, 1, 4}};
}

// The MiB a refusal says the run needs, or 0 when the message does not have the expected form.
std::uint64_t RefusedNeedMib(const util::Result<StagedMemoryPlan>& plan,
                             std::uint64_t ceiling_mib) {
  if (plan.ok()) return 0;
  const std::string head = "Memory ceiling of " + std::to_string(ceiling_mib) +
                           " MiB is too small: a staged run writing 256 shards with 11 stage "
                           "threads needs about ";
  const std::string& message = plan.error();
  if (message.rfind(head, 0) != 0 || !message.ends_with(" MiB.")) return 0;
  return std::stoull(message.substr(head.size()));
}

TEST(StagedMemoryPlanTest, AGenerousCeilingKeepsTheFullSizes) {
  const util::Result<StagedMemoryPlan> plan = PlanStagedMemory(DefaultInputs(), 1 << 20);
  ASSERT_TRUE(plan.ok()) << plan.error();
  EXPECT_EQ(plan->level, 0U);
  EXPECT_EQ(plan->read_chunk_bytes, 8 * run::kMebibyte);
  EXPECT_EQ(plan->reads_in_flight, 4U);
  EXPECT_EQ(plan->decompress_queue_capacity, 8U);
  EXPECT_EQ(plan->line_index_queue_capacity, 8U);
  EXPECT_EQ(plan->parse_queue_capacity, 16U);
  EXPECT_EQ(plan->compress_queue_capacity, 16U);
  EXPECT_EQ(plan->slab_bytes, 8 * run::kMebibyte);
  EXPECT_EQ(plan->parse_batch_lines, 262144U);
  EXPECT_EQ(plan->block_bytes, 4 * run::kMebibyte);
  EXPECT_EQ(plan->write_threshold_bytes, run::kMebibyte);
  EXPECT_EQ(plan->record_budget_bytes, std::uint64_t{1} << 30);
}

// From a ceiling that fits everything down to the first one refused, every plan fits its
// ceiling, and a smaller ceiling never gets larger blocks, batches or a lower level.
TEST(StagedMemoryPlanTest, SmallerCeilingsGetSmallerSizesThatStillFit) {
  StagedMemoryPlan previous;
  previous.block_bytes = ~std::uint64_t{0};
  previous.parse_batch_lines = ~std::uint64_t{0};
  std::set<std::uint64_t> levels;
  std::uint64_t ceiling = 8192;
  for (;; ceiling = ceiling * 9 / 10) {
    SCOPED_TRACE(::testing::Message() << ceiling << " MiB");
    const util::Result<StagedMemoryPlan> plan = PlanStagedMemory(DefaultInputs(), ceiling);
    if (!plan.ok()) break;
    EXPECT_LE(plan->needed_bytes, run::MemoryCeilingBytes(ceiling));
    EXPECT_GE(plan->level, previous.level);
    EXPECT_LE(plan->block_bytes, previous.block_bytes);
    EXPECT_LE(plan->parse_batch_lines, previous.parse_batch_lines);
    EXPECT_EQ(plan->block_bytes % chess::kPackedSfenSize, 0U);
    EXPECT_LE(plan->write_threshold_bytes, plan->block_bytes);
    // Readers held back by the budget must leave the writers records they have been told about.
    EXPECT_LE(plan->announce_bytes * 4, plan->record_budget_bytes);
    levels.insert(plan->level);
    previous = *plan;
  }
  EXPECT_GE(levels.size(), 5U);
  EXPECT_LT(previous.block_bytes, 4 * run::kMebibyte);
  EXPECT_LT(previous.parse_batch_lines, 262144U);
  EXPECT_LT(ceiling, 256U) << "a two-thread run should fit in 256 MiB";
}

TEST(StagedMemoryPlanTest, ARefusalNamesANeedThatThenFits) {
  const util::Result<StagedMemoryPlan> refused = PlanStagedMemory(DefaultInputs(), 16);
  const std::uint64_t need = RefusedNeedMib(refused, 16);
  ASSERT_GT(need, 16U) << (refused.ok() ? "not refused" : refused.error());
  EXPECT_TRUE(PlanStagedMemory(DefaultInputs(), need).ok());
  EXPECT_EQ(RefusedNeedMib(PlanStagedMemory(DefaultInputs(), need - 1), need - 1), need);
}

// Only the first 256 shards can receive records; the others cost their writer thread only.
TEST(StagedMemoryPlanTest, ShardsBeyondTheRoutingKeysHoldNoBlockBuffers) {
  const std::uint64_t need = RefusedNeedMib(PlanStagedMemory(DefaultInputs(), 1), 1);
  ASSERT_GT(need, 0U);
  const std::uint64_t extra_threads_mib = (4096 - 256) * 64 / 1024;
  EXPECT_TRUE(PlanStagedMemory(DefaultInputs(4096), need + extra_threads_mib).ok());
}

}  // namespace
}  // namespace boardmill::pipeline
