#pragma once

#include <cstdint>
#include <mutex>

namespace boardmill::pipeline {

// The counters and busy seconds of a staged run that become summary fields. Stage threads add
// their share once per item or batch.
struct StagedRunCounts {
  std::uint64_t visited_lines = 0;
  std::uint64_t encoded_positions = 0;
  std::uint64_t invalid_positions = 0;
  std::uint64_t raw_output_bytes = 0;
  std::uint64_t compressed_input_bytes = 0;
  std::uint64_t decompressed_input_bytes = 0;
  std::uint64_t compressed_output_bytes = 0;
  double read_seconds = 0.0;
  double decompress_seconds = 0.0;
  double split_seconds = 0.0;
  double encode_seconds = 0.0;
  double compress_seconds = 0.0;
  double write_seconds = 0.0;
};

// The run's totals behind one mutex.
class StagedRunTotals {
 public:
  void Add(const StagedRunCounts& delta) {
    const std::lock_guard lock(mutex_);
    totals_.visited_lines += delta.visited_lines;
    totals_.encoded_positions += delta.encoded_positions;
    totals_.invalid_positions += delta.invalid_positions;
    totals_.raw_output_bytes += delta.raw_output_bytes;
    totals_.compressed_input_bytes += delta.compressed_input_bytes;
    totals_.decompressed_input_bytes += delta.decompressed_input_bytes;
    totals_.compressed_output_bytes += delta.compressed_output_bytes;
    totals_.read_seconds += delta.read_seconds;
    totals_.decompress_seconds += delta.decompress_seconds;
    totals_.split_seconds += delta.split_seconds;
    totals_.encode_seconds += delta.encode_seconds;
    totals_.compress_seconds += delta.compress_seconds;
    totals_.write_seconds += delta.write_seconds;
  }

  StagedRunCounts Read() const {
    const std::lock_guard lock(mutex_);
    return totals_;
  }

 private:
  mutable std::mutex mutex_;
  StagedRunCounts totals_;
};

}  // namespace boardmill::pipeline
