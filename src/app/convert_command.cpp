#include "app/convert_command.h"

#include <string>

#include "app/console_lines.h"
#include "app/conversion_status.h"
#include "app/run_with_status_line.h"
#include "pipeline/run_conversion.h"

namespace boardmill::app {

namespace {

void PrintPathIfSet(const char* label, const std::filesystem::path& path) {
  if (!path.empty()) PrintLine(label, path);
}

void PrintTotals(pipeline::TotalsGroup group, const pipeline::ConversionSummary& summary) {
  pipeline::ForEachField(group, summary, [](const pipeline::TotalsField& field, auto value) {
    PrintLine(field.label, value);
  });
}

}  // namespace

void PrintConversionReport(const pipeline::ConversionSummary& summary) {
  std::printf("Execution mode: %s\n",
              std::string(pipeline::ExecutionModeName(summary.execution_mode)).c_str());
  PrintLine("Input files: ", summary.input_file_count);
  PrintLine("Completed files: ", summary.completed_input_files);
  PrintLine("Skipped files: ", summary.skipped_input_files);
  PrintLine("Output files: ", summary.output_file_count);
  PrintTotals(pipeline::TotalsGroup::kLineCounts, summary);
  PrintLine("Reject log entries: ", summary.reject_log_entries);
  PrintLine("Requested worker cap: ", summary.requested_worker_cap);
  PrintLine("Pending file cap: ", summary.pending_file_cap);
  PrintLine("Effective max workers: ", summary.effective_max_workers);
  PrintLine("Stdio worker cap: ", summary.stdio_worker_cap);
  PrintLine("Final reader workers: ", summary.reader_worker_count);
  PrintLine("Final decompress workers: ", summary.decompress_worker_count);
  PrintLine("Final line index workers: ", summary.line_index_worker_count);
  PrintLine("Final parse workers: ", summary.parse_worker_count);
  PrintLine("Final compress workers: ", summary.compress_worker_count);
  PrintLine("Final writer workers: ", summary.writer_worker_count);
  PrintLine("Final line batch size: ", summary.final_line_batch_size);
  PrintLine("Final parse batch size: ", summary.final_parse_batch_size);
  PrintTotals(pipeline::TotalsGroup::kVolumes, summary);
  PrintLine("Elapsed seconds: ", summary.elapsed_seconds);
  PrintTotals(pipeline::TotalsGroup::kSeconds, summary);
  PrintLine("Merge seconds: ", summary.merge_seconds);
  PrintLine("Final active workers: ", summary.final_active_workers);
  PrintLine("Final records per flush: ", summary.final_records_per_flush);
  PrintLine("Final compression level: ", summary.final_compression_level);
  if (summary.elapsed_seconds > 0) {
    PrintLine("Effective FEN/s: ",
              static_cast<double>(summary.encoded_positions) / summary.elapsed_seconds);
  }
  PrintPathIfSet("Manifest: ", summary.manifest_path);
  PrintPathIfSet("Reject log: ", summary.reject_log_path);
  PrintPathIfSet("Stage stats: ", summary.stage_stats_path);
  PrintPathIfSet("Worker stats: ", summary.worker_stats_path);
  PrintPathIfSet("Queue stats: ", summary.queue_stats_path);
  PrintPathIfSet("Controller stats: ", summary.controller_stats_path);
  PrintLine("Memory ceiling MiB: ", summary.memory_ceiling_mib);
  if (summary.execution_mode == pipeline::ExecutionMode::kParallel) {
    PrintLine("Memory worker cap: ", summary.memory_worker_cap);
  }
  PrintLine("Usable CPUs: ", summary.usable_cpus);
  if (summary.execution_mode == pipeline::ExecutionMode::kSequential) {
    std::printf("Sequential writer: %s\n",
                std::string(pipeline::SequentialWriterName(summary.sequential_writer)).c_str());
  }
  if (summary.resumed) {
    PrintLine("Redone files: ", summary.redone_input_files);
    PrintLine("Output records: ", summary.output_records);
  }
  // Last, and only under the lenient reading, so that a strict run's report stays as it was.
  if (summary.fen_reading == chess::FenReading::kLenient) {
    PrintTotals(pipeline::TotalsGroup::kReading, summary);
  }
}

int RunConvertCommand(const ConvertCommandLine& command_line) {
  const util::Result<pipeline::ConversionSummary> summary = RunWithStatusLine<ConversionStatus>(
      command_line.progress, ToConversionOptions(command_line), pipeline::RunConversion);
  if (!summary) return PrintErrorLine(summary.error());
  PrintConversionReport(*summary);
  return 0;
}

}  // namespace boardmill::app
