#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "pipeline/shuffle/dedup_mode.h"

namespace boardmill::io {
class MpiJob;
}

namespace boardmill::shuffle {

struct ShuffleProgress;

// Shuffled records compress less well than records in input order, and slower levels gain little
// on them: on 600,000 real-game positions level 8 made the shards 5% smaller than level 3 and the
// whole run 20% slower.
inline constexpr std::int32_t kDefaultShuffleCompressionLevel = 3;
// Scratch is written once and read once; the fastest regular level keeps it off the critical path.
inline constexpr std::int32_t kScratchCompressionLevel = 1;

// Everything a shuffle run is told. The output depends on the inputs, the shard count, the seed
// and the deduplication alone; the other settings only shape how the work is done.
struct ShuffleOptions {
  std::vector<std::filesystem::path> input_directories;
  std::filesystem::path output_directory;
  std::filesystem::path scratch_directory;  // empty: _scratch in the output directory
  std::uint64_t shard_count = 256;
  std::uint64_t seed = 0;
  DedupMode dedup = DedupMode::kNone;
  std::uint64_t max_threads = 0;         // 0: every usable CPU
  std::uint64_t memory_ceiling_mib = 0;  // 0: half of the memory the process may use
  std::int32_t compression_level = kDefaultShuffleCompressionLevel;
  std::uint64_t min_free_space_bytes = std::uint64_t{10} << 30;
  bool resume = false;
  bool keep_scratch = false;
  ShuffleProgress* progress = nullptr;  // counters for a status line, when one is shown
  const io::MpiJob* mpi_job = nullptr;  // the job of several ranks this run is one of, if any
};

}  // namespace boardmill::shuffle
