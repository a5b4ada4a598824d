#pragma once

#include <atomic>
#include <cstdint>

namespace boardmill::shuffle {

// What a running shuffle has done so far, for a status line that another thread reads. The run
// adds to it a buffer or a shard at a time.
struct ShuffleProgress {
  enum class Phase : std::uint32_t { kSpreading = 0, kFinishing = 1 };

  void Add(std::atomic<std::uint64_t>& counter, std::uint64_t count) {
    counter.fetch_add(count, std::memory_order_relaxed);
  }

  std::atomic<Phase> phase{Phase::kSpreading};
  std::atomic<std::uint64_t> input_shards_total{0};
  std::atomic<std::uint64_t> input_shards_done{0};
  std::atomic<std::uint64_t> input_bytes_total{0};
  std::atomic<std::uint64_t> input_bytes_read{0};
  std::atomic<std::uint64_t> input_records{0};
  std::atomic<std::uint64_t> output_shards_total{0};
  std::atomic<std::uint64_t> output_shards_done{0};
  std::atomic<std::uint64_t> output_records{0};
};

}  // namespace boardmill::shuffle
