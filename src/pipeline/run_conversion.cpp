#include "pipeline/run_conversion.h"

#include "compression/compression_level.h"
#include "io/mpi_job.h"
#include "pipeline/parallel/parallel_conversion_runner.h"
#include "pipeline/sequential/sequential_runner.h"
#include "pipeline/staged/staged_pipeline_runner.h"
#include "util/usable_cpus.h"

namespace boardmill::pipeline {

namespace {

constexpr std::uint64_t kStagedLineBatchSize = std::uint64_t{1} << 18;
constexpr std::uint64_t kLineBatchSize = 4096;

}  // namespace

ExecutionMode ResolveExecutionMode(const ConversionOptions& options, std::uint64_t usable_cpus) {
  if (options.execution_mode != ExecutionMode::kAuto) return options.execution_mode;
  const std::uint64_t threads =
      options.max_threads != 0 ? options.max_threads : std::max<std::uint64_t>(usable_cpus, 1);
  return threads > 1 ? ExecutionMode::kParallel : ExecutionMode::kSequential;
}

void ResolveBatchSizes(ConversionOptions& options, ExecutionMode mode) {
  if (options.line_batch_size == 0) {
    options.line_batch_size =
        mode == ExecutionMode::kStaged ? kStagedLineBatchSize : kLineBatchSize;
  }
  if (options.parse_batch_size == 0) options.parse_batch_size = options.line_batch_size;
}

util::Result<ConversionSummary> RunConversion(const ConversionOptions& options) {
  util::Result<void> level = compression::ValidateCompressionLevel(options.compression_level);
  if (!level) return std::move(level).TakeError();

  const bool across_ranks = options.mpi_job != nullptr && options.mpi_job->size() > 1;
  if (across_ranks && (options.execution_mode == ExecutionMode::kSequential ||
                       options.execution_mode == ExecutionMode::kStaged)) {
    return util::Fail("--" + std::string(ExecutionModeName(options.execution_mode)) +
                      " cannot run across the ranks of an MPI job; use --parallel, or run "
                      "without an MPI launcher.");
  }
  const ExecutionMode mode = across_ranks ? ExecutionMode::kParallel
                                          : ResolveExecutionMode(options, util::UsableCpuCount());
  ConversionOptions resolved = options;
  ResolveBatchSizes(resolved, mode);
  if (mode == ExecutionMode::kSequential) return RunSequential(resolved);
  if (mode == ExecutionMode::kStaged) return RunStaged(resolved);
  resolved.execution_mode = ExecutionMode::kParallel;
  return RunParallel(resolved);
}

}  // namespace boardmill::pipeline
