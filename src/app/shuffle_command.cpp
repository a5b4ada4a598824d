#include "app/shuffle_command.h"

#include <cstdio>
#include <string>

#include "app/console_lines.h"
#include "app/run_with_status_line.h"
#include "app/status_text.h"
#include "pipeline/shuffle/shuffle_progress.h"
#include "pipeline/shuffle/shuffle_runner.h"

namespace boardmill::app {

namespace {

constexpr std::memory_order kRelaxed = std::memory_order_relaxed;

// The status line of a shuffle: input shards and bytes while spreading, output shards and
// records while finishing, each phase with an estimate of its own.
class ShuffleStatus {
 public:
  explicit ShuffleStatus(const shuffle::ShuffleProgress& progress) : progress_(progress) {}

  std::string Compose(double elapsed_seconds) {
    if (progress_.phase.load(kRelaxed) == shuffle::ShuffleProgress::Phase::kSpreading) {
      const ItemsDone input{
          progress_.input_shards_done.load(kRelaxed), progress_.input_shards_total.load(kRelaxed),
          progress_.input_bytes_read.load(kRelaxed), progress_.input_bytes_total.load(kRelaxed)};
      return ItemsAndRecordsStatus("spreading", "shards", "input", input,
                                   progress_.input_records.load(kRelaxed), elapsed_seconds,
                                   spreading_left_);
    }
    const std::uint64_t done = progress_.output_shards_done.load(kRelaxed);
    const std::uint64_t total = progress_.output_shards_total.load(kRelaxed);
    return StatusText("finishing")
        .Items("shards", done, total)
        .Count("records", progress_.output_records.load(kRelaxed))
        .Times(elapsed_seconds, finishing_left_.Update(FractionDone(done, total), elapsed_seconds))
        .Take();
  }

 private:
  const shuffle::ShuffleProgress& progress_;
  TimeLeftEstimate spreading_left_;
  PhaseTimeLeft finishing_left_;
};

}  // namespace

int RunShuffleCommand(const ShuffleCommandLine& command_line) {
  const util::Result<shuffle::ShuffleSummary> summary = RunWithStatusLine<ShuffleStatus>(
      command_line.progress, command_line.settings, shuffle::RunShuffle);
  if (!summary) return PrintErrorLine(summary.error());
  for (const shuffle::SummaryLine& line : shuffle::SummaryLines(*summary)) {
    std::printf("%s: %s\n", std::string(line.label).c_str(), line.value.c_str());
  }
  return 0;
}

}  // namespace boardmill::app
