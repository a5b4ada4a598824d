#include <algorithm>
#include <cstdio>
#include <span>
#include <vector>

#include "chess/packed_sfen.h"
#include "compression/zstd_memory.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"
#include "shards/shard_index.h"
#include "shards/shard_naming.h"
#include "util/byte_digest.h"
#include "util/file_sync.h"
#include "util/output_file.h"

namespace boardmill::pipeline {

namespace {

// The writer of one shard: takes the shard's records batch by batch in input order, sends full
// blocks through the compress stage (one block in flight at a time) and appends the frames to
// the shard file, so the file receives its records exactly in input order. A block holds
// exactly the plan's block bytes of records (the last one less), so a batch's records may span
// two blocks; its buffers never grow past what the plan counted.
class StagedShardWriter {
 public:
  StagedShardWriter(StagedPipeline& pipeline, std::uint64_t shard, StageThreadStats& stats)
      : pipeline_(pipeline),
        shard_(shard),
        stats_(stats),
        path_(shards::ShardPath(pipeline.options.output_directory, shard,
                                pipeline.router.shard_count())),
        block_bytes_(pipeline.memory.block_bytes),
        write_threshold_bytes_(pipeline.memory.write_threshold_bytes) {}

  void Run() {
    file_ = util::CreateOutputFile(path_);
    if (!file_) {
      pipeline_.ReportFailure("Failed to open staged shard output: " + path_.string());
      return;
    }
    // The routing key has 256 values, so a shard above them never receives a record: its file
    // stays empty, and it needs neither buffers nor to follow the batches.
    if (shard_ < shards::kRoutingKeyCount) {
      raw_.reserve(block_bytes_);
      output_.reserve(write_threshold_bytes_ + compression::CompressedBlockBound(block_bytes_));
      if (!CollectAllBatches()) return;
    }
    if (!raw_.empty() && !FlushBlock()) return;
    if (!WriteOutput()) return;
    // A file system may report a lost write only at the close.
    const bool flushed = std::fflush(file_.get()) == 0;
    if (std::fclose(file_.release()) != 0 || !flushed) {
      pipeline_.ReportFailure("Failed to flush staged shard output: " + path_.string());
      return;
    }
    // Each writer thread syncs its own shard as it ends, overlapping the writers still at work.
    if (util::Result<void> synced = util::SyncFile(path_); !synced) {
      pipeline_.ReportFailure(synced.error());
      return;
    }
    pipeline_.written_shards[shard_] = shards::DescribeShard(records_, written_);
  }

 private:
  // Follows the settled batches in input order to the end; false when the run stopped.
  bool CollectAllBatches() {
    std::uint64_t cursor = 0;
    std::vector<BatchKey> fed;
    for (;;) {
      stats_.SetState(WorkerState::kBlockedOrderedWrite);
      fed.clear();
      const LedgerWaitResult waited = pipeline_.ledger.WaitForSettled(shard_, cursor, fed);
      stats_.AddBlockedOrder(waited.waited_seconds);
      if (waited.outcome == LedgerWaitResult::Outcome::kAborted) return false;
      for (const BatchKey key : fed) {
        if (!AppendRun(key)) return false;
      }
      if (waited.outcome == LedgerWaitResult::Outcome::kFinished) return true;
      cursor = waited.next_cursor;
    }
  }

  bool AppendRun(BatchKey key) {
    SlotTake<ShardRun> run = pipeline_.run_slots[shard_].Take(key, pipeline_.stop);
    stats_.AddBlockedOrder(run.waited_seconds);
    if (!run.value) return false;
    std::span<const std::uint8_t> records =
        std::span(*run.value->records).subspan(run.value->offset, run.value->size);
    while (!records.empty()) {
      if (raw_.empty()) block_key_ = key;
      const std::size_t taken = std::min<std::size_t>(records.size(), block_bytes_ - raw_.size());
      raw_.insert(raw_.end(), records.begin(),
                  records.begin() + static_cast<std::ptrdiff_t>(taken));
      records = records.subspan(taken);
      if (raw_.size() == block_bytes_ && !FlushBlock()) return false;
    }
    return true;
  }

  // Sends the raw records through the compress stage and takes the output buffer back with the
  // frame appended.
  bool FlushBlock() {
    StageStep step(stats_);
    if (!step.PushTo(pipeline_.compress_queue.queue,
                     CompressJob{shard_, block_key_, std::move(raw_), std::move(output_)})) {
      return false;
    }
    stats_.SetState(WorkerState::kBlockedOrderedWrite);
    SlotTake<CompressedBlock> block =
        pipeline_.block_slots[shard_].Take(block_key_, pipeline_.stop);
    stats_.AddBlockedOrder(block.waited_seconds);
    if (!block.value) return false;
    output_ = std::move(block.value->output);
    ++blocks_in_output_;
    raw_ = std::move(block.value->raw);
    records_ += raw_.size() / chess::kPackedSfenSize;
    raw_.clear();
    return output_.size() < write_threshold_bytes_ || WriteOutput();
  }

  bool WriteOutput() {
    if (output_.empty()) return true;
    stats_.SetState(WorkerState::kBusy);
    const util::Stopwatch clock;
    if (std::fwrite(output_.data(), 1, output_.size(), file_.get()) != output_.size()) {
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
  const std::uint64_t block_bytes_;
  const std::uint64_t write_threshold_bytes_;
  util::UniqueFile file_;
  std::vector<std::uint8_t> raw_;
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
