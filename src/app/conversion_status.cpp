#include "app/conversion_status.h"

namespace boardmill::app {

namespace {

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

}  // namespace

std::string ConversionStatus::Compose(double elapsed_seconds) {
  if (progress_.phase.load(kRelaxed) == pipeline::RunProgress::Phase::kMerging) {
    return ComposeMerging(elapsed_seconds);
  }
  return ComposeConverting(elapsed_seconds);
}

std::string ConversionStatus::ComposeConverting(double elapsed_seconds) {
  const ItemsDone input{progress_.files_done.load(kRelaxed), progress_.files_total.load(kRelaxed),
                        progress_.input_bytes_read.load(kRelaxed),
                        progress_.input_bytes_total.load(kRelaxed)};
  const std::uint64_t encoded = progress_.positions_encoded.load(kRelaxed);
  return StatusText("converting")
      .ItemsAndBytes("files", "input", input)
      .Count("positions", encoded)
      .Count("invalid", progress_.invalid_lines.load(kRelaxed))
      .Rate(encoded, elapsed_seconds)
      .Times(elapsed_seconds, converting_left_.Update(input.Fraction(), elapsed_seconds))
      .Take();
}

std::string ConversionStatus::ComposeMerging(double elapsed_seconds) {
  const std::uint64_t merged = progress_.shards_merged.load(kRelaxed);
  const std::uint64_t total = progress_.shards_total.load(kRelaxed);
  return StatusText("merging")
      .Items("shards", merged, total)
      .Count("positions", progress_.positions_encoded.load(kRelaxed))
      .Count("invalid", progress_.invalid_lines.load(kRelaxed))
      .Times(elapsed_seconds, merging_left_.Update(FractionDone(merged, total), elapsed_seconds))
      .Take();
}

}  // namespace boardmill::app
