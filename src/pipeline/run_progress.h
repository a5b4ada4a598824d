#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <span>

namespace boardmill::pipeline {

// What a running conversion has done so far, for a status line that another thread reads while
// the run goes on. Runners add to it a batch, a chunk or a file at a time, never per line, and
// only when the caller handed one in (ConversionOptions::progress).
struct RunProgress {
  enum class Phase : std::uint32_t { kConverting = 0, kMerging = 1 };

  // Sets both totals from the listed input files (a file whose size cannot be read counts 0).
  void SetInput(std::span<const std::filesystem::path> files);
  void AddFilesDone(std::uint64_t count) { files_done.fetch_add(count, kRelaxed); }
  void AddInputBytesRead(std::uint64_t count) { input_bytes_read.fetch_add(count, kRelaxed); }
  void AddLines(std::uint64_t encoded, std::uint64_t invalid) {
    positions_encoded.fetch_add(encoded, kRelaxed);
    invalid_lines.fetch_add(invalid, kRelaxed);
  }
  void AddShardsMerged(std::uint64_t count) { shards_merged.fetch_add(count, kRelaxed); }
  void StartMerge(std::uint64_t shard_count) {
    shards_total.store(shard_count, kRelaxed);
    phase.store(Phase::kMerging, kRelaxed);
  }

  // Set once the input is listed.
  std::atomic<std::uint64_t> files_total{0};
  std::atomic<std::uint64_t> input_bytes_total{0};  // compressed bytes of the listed files

  std::atomic<std::uint64_t> files_done{0};
  std::atomic<std::uint64_t> input_bytes_read{0};  // compressed bytes
  std::atomic<std::uint64_t> positions_encoded{0};
  std::atomic<std::uint64_t> invalid_lines{0};
  std::atomic<Phase> phase{Phase::kConverting};
  std::atomic<std::uint64_t> shards_total{0};  // set when the parallel merge starts
  std::atomic<std::uint64_t> shards_merged{0};

 private:
  // The status line only reads these; they publish no other data.
  static constexpr std::memory_order kRelaxed = std::memory_order_relaxed;
};

}  // namespace boardmill::pipeline
