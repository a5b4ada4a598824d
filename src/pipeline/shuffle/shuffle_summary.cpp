#include "pipeline/shuffle/shuffle_summary.h"

#include <cstdio>

namespace boardmill::shuffle {

namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

}  // namespace

std::vector<SummaryLine> SummaryLines(const ShuffleSummary& summary) {
  using std::to_string;
  return {
      {"input_records", "Input records", to_string(summary.input_records)},
      {"output_records", "Output records", to_string(summary.output_records)},
      {"duplicate_records", "Duplicate records", to_string(summary.duplicate_records)},
      {"output_shard_count", "Output shards", to_string(summary.output_shard_count)},
      {"seed", "Seed", to_string(summary.seed)},
      {"dedup", "Dedup", std::string(DedupName(summary.dedup))},
      {"scratch_bytes", "Scratch bytes", to_string(summary.scratch_bytes)},
      {"elapsed_seconds", "Elapsed seconds", Seconds(summary.elapsed_seconds)},
      {"memory_ceiling_mib", "Memory ceiling MiB", to_string(summary.memory_ceiling_mib)},
      {"threads", "Threads", to_string(summary.threads)},
      {"finish_passes", "Finish passes", to_string(summary.finish_passes)},
      {"resumed_input_shards", "Resumed input shards", to_string(summary.resumed_input_shards)},
      {"resumed_output_shards", "Resumed output shards", to_string(summary.resumed_output_shards)},
  };
}

std::string FormatShuffleRunSummary(const ShuffleSummary& summary) {
  std::string text;
  for (const SummaryLine& line : SummaryLines(summary)) {
    text.append(line.key).append("=").append(line.value).append("\n");
  }
  return text;
}

}  // namespace boardmill::shuffle
