#include "io/overlapped_file_reader.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

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

// One reader thread. Its asynchronous read set-up serves every file the thread reads.
class FileReader {
 public:
  explicit FileReader(StagedPipeline& pipeline) : pipeline_(pipeline) {}

  // Streams one input file into the decompress input queue of its file, chunk by chunk, and ends
  // it with the end-of-file marker. Stops early once the file has given the lines the run takes.
  // False when the thread should leave.
  bool Read(std::uint64_t file_index, StageStep& step) {
    StageThreadStats& stats = step.stats();
    StageQueue<DecompressItem>& target =
        *pipeline_.decompress_queues[file_index % pipeline_.decompress_queues.size()];
    io::AsyncFileReadRequest request;
    request.path = pipeline_.files[file_index];
    request.chunk_size = pipeline_.memory.read_chunk_bytes;
    request.max_reads_in_flight = pipeline_.memory.reads_in_flight;
    request.backend = kReadBackend;

    io::AsyncFileReadStats read{};
    bool handed_on = true;
    const util::Result<bool> finished =
        reader_.Visit(request, read, [&](io::AsyncFileReadChunk&& chunk) -> util::Result<bool> {
          const std::uint64_t size = chunk.bytes.size();
          if (pipeline_.progress != nullptr) pipeline_.progress->AddInputBytesRead(size);
          if (pipeline_.file_stops.Stopped(file_index)) return false;
          handed_on =
              WaitForRoom(file_index, step) &&
              pipeline_.PushToBoundThread(
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
      pipeline_.ReportFailure(finished.error());
      return false;
    }
    if (!handed_on ||
        !pipeline_.PushToBoundThread(PipelineStage::kDecompress, target,
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
    pipeline_.totals.Add({.compressed_input_bytes = read.bytes, .read_seconds = step.Finish()});
    return true;
  }

 private:
  // Holds the chunk back while the records waiting for the writers are over budget; the wait
  // counts as blocked downstream. False when the run stopped meanwhile.
  bool WaitForRoom(std::uint64_t file_index, StageStep& step) {
    step.stats().SetState(WorkerState::kBlockedFull);
    const ReadRoomWait room = pipeline_.ledger.WaitForReadRoom(file_index);
    if (room.waited_seconds > 0.0) step.AddBlockedDownstream(room.waited_seconds);
    step.stats().SetState(WorkerState::kBusy);
    return !room.aborted;
  }

  StagedPipeline& pipeline_;
  io::AsyncFileReader reader_;
};

}  // namespace

void RunReaderThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  FileReader reader(pipeline);
  // The file queue is closed from the start, so an empty queue means there is nothing left.
  RunStageThread(
      pipeline, PipelineStage::kReader, worker_index, pipeline.file_queue,
      [&] { return pipeline.file_queue.Size() == 0; },
      [&](std::uint64_t file_index, StageStep& step) { return reader.Read(file_index, step); },
      [&] {
        if (pipeline.live_readers.fetch_sub(1) == 1) pipeline.CloseDecompressInputs();
      });
}

}  // namespace boardmill::pipeline
