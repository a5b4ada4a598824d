#include "app/sample_command.h"

#include "app/console_lines.h"
#include "io/fen_dataset_sampler.h"

namespace boardmill::app {

int RunSampleCommand(const SampleCommandLine& command_line) {
  io::FenDatasetSamplerSettings settings;
  settings.input_directory = command_line.input_directory;
  settings.output_directory = command_line.output_directory;
  settings.manifest_path = command_line.manifest_path;
  settings.max_input_files = command_line.max_input_files;
  settings.max_lines_per_file = command_line.max_lines_per_file;
  settings.line_batch_size = command_line.line_batch_size;
  settings.compression_level = command_line.compression_level;

  const util::Result<io::FenDatasetSampleSummary> summary =
      io::FenDatasetSampler(std::move(settings)).Run();
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
