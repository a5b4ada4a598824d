#include "app/sample_command.h"

#include "app/console_lines.h"
#include "app/status_line.h"
#include "app/status_text.h"
#include "io/fen_dataset_sampler.h"

namespace boardmill::app {

namespace {

// The sampler reads only the head of each file, so files, not bytes, tell how far it is.
std::string SampleStatus(const io::SampleProgress& progress, double elapsed,
                         TimeLeftEstimate& time_left) {
  constexpr std::memory_order kRelaxed = std::memory_order_relaxed;
  const std::uint64_t files_done = progress.files_done.load(kRelaxed);
  const std::uint64_t files_total = progress.files_total.load(kRelaxed);
  const std::uint64_t lines = progress.copied_lines.load(kRelaxed);
  return StatusText("sampling")
      .Items("files", files_done, files_total)
      .Count("lines", lines)
      .Rate(lines, elapsed)
      .Times(elapsed, time_left.Update(FractionDone(files_done, files_total), elapsed))
      .Take();
}

}  // namespace

int RunSampleCommand(const SampleCommandLine& command_line) {
  io::SampleProgress progress;
  const std::optional<StatusLineStyle> style = ChooseStatusLineStyle(command_line.progress);
  io::FenDatasetSamplerSettings settings = command_line.settings;
  settings.progress = style ? &progress : nullptr;

  StatusLine status_line(style,
                         [&progress, time_left = TimeLeftEstimate()](double elapsed) mutable {
                           return SampleStatus(progress, elapsed, time_left);
                         });
  const util::Result<io::FenDatasetSampleSummary> summary =
      io::FenDatasetSampler(std::move(settings)).Run();
  status_line.Stop();
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
