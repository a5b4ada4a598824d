#include "app/sample_command.h"

#include "app/console_lines.h"
#include "app/run_with_status_line.h"
#include "app/status_text.h"
#include "io/fen_dataset_sampler.h"

namespace boardmill::app {

namespace {

// The status line of a sample. The sampler reads only the head of each file, so files, not
// bytes, tell how far it is.
class SampleStatus {
 public:
  explicit SampleStatus(const io::SampleProgress& progress) : progress_(progress) {}

  std::string Compose(double elapsed_seconds) {
    constexpr std::memory_order kRelaxed = std::memory_order_relaxed;
    const std::uint64_t files_done = progress_.files_done.load(kRelaxed);
    const std::uint64_t files_total = progress_.files_total.load(kRelaxed);
    const std::uint64_t lines = progress_.copied_lines.load(kRelaxed);
    return StatusText("sampling")
        .Items("files", files_done, files_total)
        .Count("lines", lines)
        .Rate(lines, elapsed_seconds)
        .Times(elapsed_seconds,
               time_left_.Update(FractionDone(files_done, files_total), elapsed_seconds))
        .Take();
  }

 private:
  const io::SampleProgress& progress_;
  TimeLeftEstimate time_left_;
};

util::Result<io::FenDatasetSampleSummary> RunSampler(io::FenDatasetSamplerSettings settings) {
  return io::FenDatasetSampler(std::move(settings)).Run();
}

}  // namespace

int RunSampleCommand(const SampleCommandLine& command_line) {
  const util::Result<io::FenDatasetSampleSummary> summary =
      RunWithStatusLine<SampleStatus>(command_line.progress, command_line.settings, RunSampler);
  if (!summary) return PrintErrorLine(summary.error());
  PrintLine("Input files: ", summary->input_file_count);
  PrintLine("Output files: ", summary->output_file_count);
  PrintLine("Copied lines: ", summary->copied_lines);
  PrintLine("Compressed input bytes: ", summary->compressed_input_bytes);
  PrintLine("Decompressed input bytes: ", summary->decompressed_input_bytes);
  PrintLine("Compressed output bytes: ", summary->compressed_output_bytes);
  PrintLine("Elapsed seconds: ", summary->elapsed_seconds);
  PrintLine("Manifest: ", summary->manifest_path);
  return 0;
}

}  // namespace boardmill::app
