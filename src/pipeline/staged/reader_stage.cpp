#include "io/overlapped_file_reader.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

constexpr std::uint64_t kReadChunkBytes = std::uint64_t{8} << 20;
constexpr std::uint64_t kReadsInFlight = 4;

// liburing maps its rings with raw system calls that ThreadSanitizer cannot see, so a ring mapped
// where another reader's ring used to be looks like a race on every submission. Those builds
// read with plain positional reads; every other build uses io_uring when the kernel offers it.
#if defined(__SANITIZE_THREAD__)
constexpr io::AsyncReadBackend kReadBackend = io::AsyncReadBackend::kPositionalReads;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr io::AsyncReadBackend kReadBackend = io::AsyncReadBackend::kPositionalReads;
#else
constexpr io::AsyncReadBackend kReadBackend = io::AsyncReadBackend::kAutomatic;
#endif
#else
constexpr io::AsyncReadBackend kReadBackend = io::AsyncReadBackend::kAutomatic;
#endif

// Streams one input file into the decompress input queue of its file, chunk by chunk, and ends
// it with the end-of-file marker. False when the thread should leave.
bool ReadFile(StagedPipeline& pipeline, std::uint64_t file_index, StageStep& step) {
  StageThreadStats& stats = step.stats();
  StageQueue<DecompressItem>& target =
      *pipeline.decompress_queues[file_index % pipeline.decompress_queues.size()];
  io::AsyncFileReadRequest request;
  request.path = pipeline.files[file_index];
  request.chunk_size = kReadChunkBytes;
  request.max_reads_in_flight = kReadsInFlight;
  request.backend = kReadBackend;

  io::AsyncFileReadStats read{};
  bool handed_on = true;
  const util::Result<bool> finished = io::VisitFileChunksAsync(
      request, read, [&](io::AsyncFileReadChunk&& chunk) -> util::Result<bool> {
        const std::uint64_t size = chunk.bytes.size();
        handed_on = pipeline.PushToBoundThread(
            PipelineStage::kDecompress, target,
            DecompressItem{file_index, std::move(chunk.bytes), chunk.offset, false}, step);
        if (!handed_on) return false;
        stats.stage().AddItemsOut(1);
        stats.stage().AddBytesOut(size);
        stats.stage().AddBatches(1);
        stats.worker().RecordBatchSize(1, size);
        return true;
      });
  if (!finished) {
    pipeline.ReportFailure(finished.error());
    return false;
  }
  if (!handed_on ||
      !pipeline.PushToBoundThread(PipelineStage::kDecompress, target,
                                  DecompressItem{file_index, {}, read.bytes, true}, step)) {
    return false;
  }
  WorkerStats& worker = stats.worker();
  worker.AddBatches(1);
  worker.AddItemsIn(1);
  worker.AddItemsOut(read.chunks);
  worker.AddBytesIn(read.bytes);
  worker.AddBytesOut(read.bytes);
  worker.RecordBatchSize(read.chunks, read.bytes);
  stats.stage().AddItemsIn(1);
  stats.stage().AddBytesIn(read.bytes);
  pipeline.totals.Add({.compressed_input_bytes = read.bytes, .read_seconds = step.Finish()});
  return true;
}

}  // namespace

void RunReaderThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  StageThreadStats stats(pipeline.Worker(PipelineStage::kReader, worker_index),
                         pipeline.Stats(PipelineStage::kReader));
  // The file queue is closed from the start, so an empty queue means there is nothing left.
  RunStageLoop(
      pipeline.Gate(PipelineStage::kReader), worker_index, pipeline.stop, pipeline.file_queue,
      stats, [&] { return pipeline.file_queue.Size() == 0; },
      [&](std::uint64_t file_index, StageStep& step) {
        return ReadFile(pipeline, file_index, step);
      });
  if (pipeline.live_readers.fetch_sub(1) == 1) pipeline.CloseDecompressInputs();
  stats.SetState(WorkerState::kFinished);
}

}  // namespace boardmill::pipeline
