#include "pipeline/shard_record_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace boardmill::pipeline {
namespace {

chess::PackedSfen Record(std::uint32_t number) {
  chess::PackedSfen record;
  for (std::size_t byte = 0; byte < 4; ++byte) record.bytes[byte] = number >> (8 * byte);
  return record;
}

std::vector<std::uint8_t> Joined(const ShardRecordBuffer& buffer, std::uint64_t shard) {
  std::vector<std::uint8_t> bytes;
  for (const std::span<const std::uint8_t> page : buffer.ShardPages(shard)) {
    bytes.insert(bytes.end(), page.begin(), page.end());
  }
  return bytes;
}

std::vector<std::uint8_t> Expected(std::uint32_t first, std::uint32_t count) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t number = first; number < first + count; ++number) {
    const chess::PackedSfen record = Record(number);
    bytes.insert(bytes.end(), record.bytes.begin(), record.bytes.end());
  }
  return bytes;
}

constexpr std::uint32_t kRecordsPerPage = ShardRecordBuffer::kPageBytes / chess::kPackedSfenSize;

// Two shards at the floor budget (four pages): records come back per shard in the order they
// went in across page boundaries, the buffer refuses a record only when every page is taken,
// and releasing a shard makes its pages available again.
TEST(ShardRecordBufferTest, KeepsEachShardsOrderWithinItsBudgetAndReleasesPages) {
  ShardRecordBuffer buffer(2, 0);
  for (std::uint32_t number = 0; number < 3 * kRecordsPerPage; ++number) {
    ASSERT_TRUE(buffer.Append(1, Record(number))) << number;
  }
  ASSERT_TRUE(buffer.Append(0, Record(7)));
  EXPECT_FALSE(buffer.Append(0, Record(8)) && buffer.Append(1, Record(3 * kRecordsPerPage)))
      << "a fifth page was handed out";
  EXPECT_EQ(buffer.FullestShard(), 1U);
  EXPECT_EQ(Joined(buffer, 1), Expected(0, 3 * kRecordsPerPage));
  EXPECT_EQ(buffer.ShardBytes(1), 3 * ShardRecordBuffer::kPageBytes);

  buffer.Release(1);
  EXPECT_EQ(buffer.ShardBytes(1), 0U);
  EXPECT_TRUE(buffer.ShardPages(1).empty());
  for (std::uint32_t number = 0; number < 2 * kRecordsPerPage; ++number) {
    ASSERT_TRUE(buffer.Append(1, Record(100 + number)));
  }
  EXPECT_EQ(Joined(buffer, 1), Expected(100, 2 * kRecordsPerPage));
  EXPECT_EQ(buffer.AllocatedBytes(), 4 * ShardRecordBuffer::kPageBytes);
}

}  // namespace
}  // namespace boardmill::pipeline
