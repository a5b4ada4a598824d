#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "chess/packed_sfen.h"

namespace boardmill::pipeline {

// Records encoded and not yet compressed, kept per shard in fixed-size pages drawn from one
// budget: a parallel task's, or a sequential run's that writes frames. Buffering the records
// gives each frame a known size (the library then sizes its tables to the data rather than to an
// endless stream), and the budget keeps memory within its share of the ceiling however the
// records spread over the shards: when the pages run out, the caller compresses the fullest shard
// and releases its pages.
class ShardRecordBuffer {
 public:
  static constexpr std::uint64_t kPageBytes = std::uint64_t{32} << 10;

  // At least two pages per shard that can receive records, whatever the budget, so that a full
  // buffer always has a shard worth compressing.
  static std::uint64_t MinimumBudgetBytes(std::uint64_t shard_count);

  ShardRecordBuffer(std::uint64_t shard_count, std::uint64_t budget_bytes);
  ShardRecordBuffer(const ShardRecordBuffer&) = delete;
  ShardRecordBuffer& operator=(const ShardRecordBuffer&) = delete;

  // Appends one record to its shard; false when no page is left for it, which changes nothing.
  bool Append(std::uint64_t shard, const chess::PackedSfen& record) {
    Shard& target = shards_[shard];
    if (target.fill == kPageBytes && !StartPage(target)) return false;
    std::copy(record.bytes.begin(), record.bytes.end(), target.page + target.fill);
    target.fill += chess::kPackedSfenSize;
    return true;
  }

  std::uint64_t ShardBytes(std::uint64_t shard) const { return shards_[shard].Bytes(); }
  // The shard holding the most bytes (the lowest id among equals).
  std::uint64_t FullestShard() const;
  // The shard's bytes in order, page by page.
  std::vector<std::span<const std::uint8_t>> ShardPages(std::uint64_t shard) const;
  // Empties the shard and returns its pages to the budget.
  void Release(std::uint64_t shard);
  // What the pages allocated so far hold; they are kept for the next task.
  std::uint64_t AllocatedBytes() const { return pages_.size() * kPageBytes; }

 private:
  struct Shard {
    std::vector<std::uint32_t> pages;
    std::uint8_t* page = nullptr;
    std::uint64_t fill = kPageBytes;  // bytes used in `page`; a full page asks for the next

    // Every page but the last is full; without pages, `fill` is a full page's size.
    std::uint64_t Bytes() const { return pages.size() * kPageBytes + fill - kPageBytes; }
  };

  bool StartPage(Shard& shard);

  std::vector<Shard> shards_;
  std::vector<std::unique_ptr<std::uint8_t[]>> pages_;
  std::vector<std::uint32_t> free_pages_;
  std::uint64_t max_pages_;
};

}  // namespace boardmill::pipeline
