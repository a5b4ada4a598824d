#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace boardmill::pipeline {

// One flag per input file, raised once the file has given all the lines the run takes from it
// (--max-lines-per-file): its reader stops reading and its decompressor stops decoding. Stages
// look at a flag per chunk or slab; seeing it late only costs work that is then dropped.
class FileStopFlags {
 public:
  explicit FileStopFlags(std::uint64_t file_count) : flags_(file_count) {}

  void Stop(std::uint64_t file_index) { flags_[file_index].store(true, std::memory_order_relaxed); }
  bool Stopped(std::uint64_t file_index) const {
    return flags_[file_index].load(std::memory_order_relaxed);
  }

 private:
  std::vector<std::atomic<bool>> flags_;
};

}  // namespace boardmill::pipeline
