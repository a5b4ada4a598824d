#include <fstream>

#include "chess/packed_sfen.h"
#include "pipeline/shard_index.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"
#include "util/byte_digest.h"

namespace boardmill::pipeline {

namespace {

constexpr std::uint64_t kBlockBytes = std::uint64_t{4} << 20;
constexpr std::uint64_t kRawReserveBytes = std::uint64_t{6} << 20;
constexpr std::uint64_t kOutputReserveBytes = 1310720;
constexpr std::uint64_t kWriteThresholdBytes = std::uint64_t{1} << 20;

// The writer of one shard: takes the shard's records batch by batch in input order, sends full
// blocks through the compress stage (one block in flight at a time) and appends the frames to
// the shard file, so the file receives its records exactly in input order.
class StagedShardWriter {
 public:
  StagedShardWriter(StagedPipeline& pipeline, std::uint64_t shard, StageThreadStats& stats)
      : pipeline_(pipeline),
        shard_(shard),
        stats_(stats),
        path_(pipeline.router.ShardPath(pipeline.options.output_directory, shard)) {}

  void Run() {
    file_.open(path_, std::ios::binary | std::ios::trunc);
    if (!file_) {
      pipeline_.ReportFailure("Failed to open staged shard output: " + path_.string());
      return;
    }
    raw_.reserve(kRawReserveBytes);
    output_.reserve(kOutputReserveBytes);
    // The routing key has 256 values, so a shard above them never receives a record: its file
    // stays empty and it need not follow the batches.
    if (shard_ < kRoutingKeyCount && !CollectAllBatches()) return;
    if (raw_records_ != 0 && !FlushBlock()) return;
    if (!WriteOutput()) return;
    file_.flush();
    if (file_) file_.close();  // a file system may report a lost write only at the close
    if (!file_) {
      pipeline_.ReportFailure("Failed to flush staged shard output: " + path_.string());
      return;
    }
    pipeline_.written_shards[shard_] = DescribeShard(records_, written_);
  }

 private:
  // Walks every batch of every file in order; false when the run stopped.
  bool CollectAllBatches() {
    for (std::uint64_t file = 0; file < pipeline_.files.size(); ++file) {
      for (std::uint64_t batch = 0;; ++batch) {
        const BatchKey key{file, batch};
        stats_.SetState(WorkerState::kBlockedOrderedWrite);
        const LedgerWaitResult waited = pipeline_.ledger.WaitFor(key);
        stats_.AddBlockedOrder(waited.waited_seconds);
        if (waited.outcome == LedgerWaitResult::Outcome::kAborted) return false;
        if (waited.outcome == LedgerWaitResult::Outcome::kPastFileEnd) break;
        if (waited.shards.Contains(shard_) && !AppendRun(key)) return false;
      }
    }
    return true;
  }

  bool AppendRun(BatchKey key) {
    SlotTake<std::vector<std::uint8_t>> run = pipeline_.run_slots[shard_].Take(key, pipeline_.stop);
    stats_.AddBlockedOrder(run.waited_seconds);
    if (!run.value) return false;
    if (raw_records_ == 0) block_key_ = key;
    raw_.insert(raw_.end(), run.value->begin(), run.value->end());
    raw_records_ += run.value->size() / chess::kPackedSfenSize;
    return raw_.size() < kBlockBytes || FlushBlock();
  }

  // Sends the raw records through the compress stage and appends the frame that comes back.
  bool FlushBlock() {
    StageStep step(stats_);
    if (!step.PushTo(pipeline_.compress_queue.queue,
                     CompressJob{shard_, block_key_, std::move(raw_), raw_records_})) {
      return false;
    }
    stats_.SetState(WorkerState::kBlockedOrderedWrite);
    SlotTake<CompressedBlock> block =
        pipeline_.block_slots[shard_].Take(block_key_, pipeline_.stop);
    stats_.AddBlockedOrder(block.waited_seconds);
    if (!block.value) return false;
    output_.insert(output_.end(), block.value->frame.begin(), block.value->frame.end());
    ++blocks_in_output_;
    records_ += raw_records_;
    raw_ = std::move(block.value->raw);
    raw_.clear();
    raw_records_ = 0;
    return output_.size() < kWriteThresholdBytes || WriteOutput();
  }

  bool WriteOutput() {
    if (output_.empty()) return true;
    stats_.SetState(WorkerState::kBusy);
    const util::Stopwatch clock;
    file_.write(reinterpret_cast<const char*>(output_.data()),
                static_cast<std::streamsize>(output_.size()));
    if (!file_) {
      pipeline_.ReportFailure("Failed to write staged shard output: " + path_.string());
      return false;
    }
    const double seconds = clock.ElapsedSeconds();
    written_.Add(output_);
    const std::uint64_t bytes = output_.size();
    WorkerStats& worker = stats_.worker();
    worker.AddBatches(1);
    worker.AddItemsIn(blocks_in_output_);
    worker.AddItemsOut(blocks_in_output_);
    worker.AddBytesIn(bytes);
    worker.AddBytesOut(bytes);
    worker.RecordBatchSize(blocks_in_output_, bytes);
    StageStats& stage = stats_.stage();
    stage.AddBatches(1);
    stage.AddItemsIn(blocks_in_output_);
    stage.AddItemsOut(blocks_in_output_);
    stage.AddBytesIn(bytes);
    stage.AddBytesOut(bytes);
    stats_.AddBusy(seconds);
    pipeline_.totals.Add({.compressed_output_bytes = bytes, .write_seconds = seconds});
    output_.clear();
    blocks_in_output_ = 0;
    return true;
  }

  StagedPipeline& pipeline_;
  const std::uint64_t shard_;
  StageThreadStats& stats_;
  const std::filesystem::path path_;
  std::ofstream file_;
  std::vector<std::uint8_t> raw_;
  std::uint64_t raw_records_ = 0;
  BatchKey block_key_;
  std::vector<std::uint8_t> output_;
  std::uint64_t blocks_in_output_ = 0;
  std::uint64_t records_ = 0;  // records of the blocks that reached output_
  util::ByteDigest written_;
};

}  // namespace

void RunShardWriterThread(StagedPipeline& pipeline, std::uint64_t shard) {
  StageThreadStats stats(pipeline.Worker(PipelineStage::kWrite, shard),
                         pipeline.Stats(PipelineStage::kWrite));
  stats.SetState(WorkerState::kIdle);
  StagedShardWriter(pipeline, shard, stats).Run();
  if (pipeline.live_writers.fetch_sub(1) == 1) pipeline.CloseCompressQueue();
  stats.SetState(WorkerState::kFinished);
}

}  // namespace boardmill::pipeline
