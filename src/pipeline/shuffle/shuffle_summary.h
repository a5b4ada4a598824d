#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/shuffle/dedup_mode.h"

namespace boardmill::shuffle {

// What a finished shuffle reports, on the console and in run-summary.txt.
struct ShuffleSummary {
  std::uint64_t input_records = 0;
  std::uint64_t output_records = 0;
  std::uint64_t duplicate_records = 0;
  std::uint64_t output_shard_count = 0;
  std::uint64_t seed = 0;
  DedupMode dedup = DedupMode::kNone;
  std::uint64_t scratch_bytes = 0;
  double elapsed_seconds = 0.0;
  std::uint64_t memory_ceiling_mib = 0;
  std::uint64_t threads = 0;
  std::uint64_t finish_passes = 0;          // gatherings of output shards' entries, over every rank
  std::uint64_t resumed_input_shards = 0;   // spread by an earlier run
  std::uint64_t resumed_output_shards = 0;  // finished by an earlier run
};

// One reported value: its run-summary.txt key, its console label and its text (counts in
// decimal, seconds with three decimals).
struct SummaryLine {
  std::string_view key;
  std::string_view label;
  std::string value;
};

// Every reported value, in the order both the console and run-summary.txt show them.
std::vector<SummaryLine> SummaryLines(const ShuffleSummary& summary);

// run-summary.txt: one key=value line per reported value.
std::string FormatShuffleRunSummary(const ShuffleSummary& summary);

}  // namespace boardmill::shuffle
