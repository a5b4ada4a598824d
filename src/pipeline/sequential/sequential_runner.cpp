#include "pipeline/sequential/sequential_runner.h"

#include <span>
#include <string>
#include <vector>

#include "compression/compression_level.h"
#include "compression/zstd_line_reader.h"
#include "io/input_discovery.h"
#include "pipeline/conversion_locks.h"
#include "pipeline/conversion_path_checks.h"
#include "pipeline/index_and_verify_shards.h"
#include "pipeline/line_encoder.h"
#include "pipeline/option_limits.h"
#include "pipeline/run_summary_file.h"
#include "pipeline/sequential/framed_shard_files.h"
#include "pipeline/sequential/sequential_writer_plan.h"
#include "run/memory_ceiling.h"
#include "run/run_outcome_files.h"
#include "shards/shard_set.h"
#include "util/stopwatch.h"
#include "util/usable_cpus.h"

namespace boardmill::pipeline {

namespace {

namespace fs = std::filesystem;

util::Result<void> ValidateSequentialOptions(const ConversionOptions& options) {
  if (options.output_shard_count == 0) return util::Fail("Output shard count must be at least 1.");
  if (options.records_per_flush == 0) return util::Fail("Records-per-flush must be at least 1.");
  util::Result<void> limits = CheckOptionLimits(options);
  if (!limits) return limits;
  return compression::ValidateCompressionLevel(options.compression_level);
}

ConversionSummary InitialSummary(const ConversionOptions& options, std::uint64_t file_count) {
  ConversionSummary summary;
  summary.execution_mode = ExecutionMode::kSequential;
  summary.fen_reading = options.fen_reading;
  summary.input_file_count = file_count;
  summary.completed_input_files = file_count;
  summary.pending_file_cap = file_count;
  summary.requested_worker_cap = 1;
  summary.effective_max_workers = 1;
  summary.final_active_workers = 1;
  summary.reader_worker_count = 1;
  summary.final_line_batch_size = options.line_batch_size;
  summary.final_records_per_flush = options.records_per_flush;
  summary.final_compression_level = options.compression_level;
  return summary;
}

// Encodes and writes the lines of one input file into `Shards`: a shards::ShardSet or
// FramedShardFiles.
template <typename Shards>
class SequentialFileConverter {
 public:
  SequentialFileConverter(const ConversionOptions& options, const LineEncoder& encoder,
                          Shards& shards, ConversionSummary& summary)
      : options_(options), encoder_(encoder), shards_(shards), summary_(summary) {}

  util::Result<compression::ZstdLineReadSummary> Convert(const fs::path& file) {
    lines_in_file_ = 0;
    return reader_.Visit(file, options_.line_batch_size,
                         [this](std::span<const compression::ZstdLineBatchEntry> batch) {
                           return HandleBatch(batch);
                         });
  }

 private:
  // Encodes the batch's lines up to the file's line cap; false once the cap is reached. The
  // sequential mode keeps no reject log: an invalid line is only counted.
  util::Result<bool> HandleBatch(std::span<const compression::ZstdLineBatchEntry> batch) {
    const util::Stopwatch clock;
    const std::span<const compression::ZstdLineBatchEntry> wanted =
        LinesWithinCap(batch, lines_in_file_, options_.max_lines_per_file);
    util::Result<LineBatchCounts> counts = encoder_.EncodeBatch(
        wanted,
        [this](const EncodedLine& encoded) -> util::Result<void> {
          auto written = shards_.WriteRecord(encoded.shard_id, encoded.record);
          if (!written) return std::move(written).TakeError();
          return {};
        },
        [](const compression::ZstdLineBatchEntry&, const std::string&) {
          return util::Result<void>();
        });
    if (!counts) return std::move(counts).TakeError();
    lines_in_file_ += wanted.size();
    summary_ += counts->Totals(clock.ElapsedSeconds());
    if (options_.progress != nullptr) options_.progress->AddLines(counts->records, counts->rejects);
    return wanted.size() == batch.size();
  }

  const ConversionOptions& options_;
  const LineEncoder& encoder_;
  Shards& shards_;
  ConversionSummary& summary_;
  compression::ZstdLineReader reader_;
  std::uint64_t lines_in_file_ = 0;
};

void AddReaderTotals(const compression::ZstdLineReadSummary& read, ConversionSummary& summary) {
  summary.compressed_input_bytes += read.compressed_bytes;
  summary.decompressed_input_bytes += read.decompressed_bytes;
  summary.read_seconds += read.read_seconds;
  summary.decompress_seconds += read.decompress_seconds;
  summary.split_seconds += read.split_seconds;
}

// Opens the shards, converts every file into them in order and finishes them.
template <typename Shards>
util::Result<shards::ShardSetSummary> WriteShards(const ConversionOptions& options,
                                                  const std::vector<fs::path>& files,
                                                  Shards&& shards,
                                                  const shards::ShardRouter& router,
                                                  ConversionSummary& summary) {
  auto opened = shards.Open();
  if (!opened) return std::move(opened).TakeError();
  const LineEncoder encoder(options.enable_fast_encoder, options.fen_reading, router);
  SequentialFileConverter<Shards> converter(options, encoder, shards, summary);
  for (const fs::path& file : files) {
    util::Result<compression::ZstdLineReadSummary> read = converter.Convert(file);
    if (!read) return std::move(read).TakeError();
    AddReaderTotals(*read, summary);
    if (options.progress != nullptr) {
      options.progress->AddInputBytesRead(read->compressed_bytes);
      options.progress->AddFilesDone(1);
    }
  }
  return shards.Finish();
}

}  // namespace

util::Result<ConversionSummary> RunSequential(const ConversionOptions& options) {
  util::Result<void> valid = ValidateSequentialOptions(options);
  if (!valid) return std::move(valid).TakeError();
  const util::Stopwatch run_clock;

  util::Result<std::vector<fs::path>> files =
      io::ListFenFiles(options.input_directory, options.max_input_files, InputDiscoveryOf(options));
  if (!files) return std::move(files).TakeError();
  util::Result<void> paths = CheckConversionPaths(options, *files);
  if (!paths) return std::move(paths).TakeError();
  if (options.progress != nullptr) options.progress->SetInput(*files);
  ConversionSummary summary = InitialSummary(options, files->size());
  summary.memory_ceiling_mib = run::ResolveMemoryCeilingMib(options.memory_ceiling_mib);
  summary.usable_cpus = util::UsableCpuCount();
  util::Result<SequentialWriterPlan> plan =
      PlanSequentialWriter(options, summary.memory_ceiling_mib);
  if (!plan) return std::move(plan).TakeError();

  util::Result<io::RunLocks> locks = AcquireRunLocks(options, ExecutionMode::kSequential);
  if (!locks) return std::move(locks).TakeError();
  util::Result<void> removed = run::RemoveEarlierRunOutcome(options.output_directory);
  if (!removed) return std::move(removed).TakeError();

  const shards::ShardRouter router(options.output_shard_count);
  summary.sequential_writer = plan->writer;
  util::Result<shards::ShardSetSummary> finished =
      plan->writer == SequentialWriter::kStreams
          ? WriteShards(
                options, *files,
                shards::ShardSet(options.output_directory, options.compression_level,
                                 options.records_per_flush, options.precreate_shards, router),
                router, summary)
          : WriteShards(
                options, *files,
                FramedShardFiles(options.output_directory, options.compression_level,
                                 options.precreate_shards, router, plan->record_budget_bytes),
                router, summary);
  if (!finished) return std::move(finished).TakeError();
  summary.output_file_count = finished->finished_files;
  summary.compressed_output_bytes = finished->compressed_bytes;
  summary.compress_seconds = finished->compress_seconds;
  summary.write_seconds = finished->write_seconds;
  util::Result<void> indexed = IndexAndVerifyShards(options, finished->shards);
  if (!indexed) return std::move(indexed).TakeError();
  summary.elapsed_seconds = run_clock.ElapsedSeconds();
  util::Result<void> written = WriteSequentialRunSummary(options, summary);
  if (!written) return std::move(written).TakeError();
  return summary;
}

util::Result<void> WriteSequentialRunSummary(const ConversionOptions& options,
                                             const ConversionSummary& summary) {
  RunSummaryFile file(3);
  file.AddRunStart("sequential", options);
  file.AddShardSettings(options);
  file.Add("max_input_files", options.max_input_files);
  file.Add("max_lines_per_file", options.max_lines_per_file);
  file.Add("input_file_count", summary.input_file_count);
  file.Add("output_file_count", summary.output_file_count);
  file.AddLineCounts(summary);
  file.AddVolumesAndTimes(summary);
  file.AddClosingFigures(summary);
  file.Add("sequential_writer", SequentialWriterName(summary.sequential_writer));
  file.AddReadingCounts(summary);
  return file.WriteInto(options.output_directory);
}

}  // namespace boardmill::pipeline
