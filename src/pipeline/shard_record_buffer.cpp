#include "pipeline/shard_record_buffer.h"

#include <algorithm>

#include "shards/shard_router.h"

namespace boardmill::pipeline {

std::uint64_t ShardRecordBuffer::MinimumBudgetBytes(std::uint64_t shard_count) {
  return 2 * std::min(std::max<std::uint64_t>(shard_count, 1), shards::kRoutingKeyCount) *
         kPageBytes;
}

ShardRecordBuffer::ShardRecordBuffer(std::uint64_t shard_count, std::uint64_t budget_bytes)
    : shards_(std::max<std::uint64_t>(shard_count, 1)),
      max_pages_(std::max(budget_bytes, MinimumBudgetBytes(shard_count)) / kPageBytes) {}

bool ShardRecordBuffer::StartPage(Shard& shard) {
  std::uint32_t page = 0;
  if (!free_pages_.empty()) {
    page = free_pages_.back();
    free_pages_.pop_back();
  } else if (pages_.size() < max_pages_) {
    page = static_cast<std::uint32_t>(pages_.size());
    // Uninitialised: every byte is written before it is read.
    pages_.emplace_back(new std::uint8_t[kPageBytes]);
  } else {
    return false;
  }
  shard.pages.push_back(page);
  shard.page = pages_[page].get();
  shard.fill = 0;
  return true;
}

std::uint64_t ShardRecordBuffer::FullestShard() const {
  const auto fullest = std::max_element(
      shards_.begin(), shards_.end(),
      [](const Shard& left, const Shard& right) { return left.Bytes() < right.Bytes(); });
  return static_cast<std::uint64_t>(fullest - shards_.begin());
}

std::vector<std::span<const std::uint8_t>> ShardRecordBuffer::ShardPages(
    std::uint64_t shard) const {
  const Shard& source = shards_[shard];
  std::vector<std::span<const std::uint8_t>> pages;
  pages.reserve(source.pages.size());
  for (std::size_t index = 0; index < source.pages.size(); ++index) {
    const bool last = index + 1 == source.pages.size();
    pages.emplace_back(pages_[source.pages[index]].get(), last ? source.fill : kPageBytes);
  }
  return pages;
}

void ShardRecordBuffer::Release(std::uint64_t shard) {
  Shard& target = shards_[shard];
  free_pages_.insert(free_pages_.end(), target.pages.begin(), target.pages.end());
  target.pages.clear();
  target.page = nullptr;
  target.fill = kPageBytes;
}

}  // namespace boardmill::pipeline
