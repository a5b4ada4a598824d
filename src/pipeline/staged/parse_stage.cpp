#include <string_view>
#include <vector>

#include "pipeline/line_encoder.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

// One parse thread: encodes the lines of a batch, collects each shard's records of the batch in
// one run, deposits the runs for the writers and marks the batch parsed. The records are encoded
// into a buffer the thread keeps and then copied into runs of their exact size, so a batch costs
// one allocation per shard it feeds, whatever its line count.
class ParseWorker {
 public:
  explicit ParseWorker(StagedPipeline& pipeline)
      : pipeline_(pipeline),
        encoder_(pipeline.options.enable_fast_encoder, pipeline.router),
        runs_(pipeline.shard_count),
        records_per_shard_(pipeline.shard_count) {
    touched_.reserve(kRoutingKeyCount);
  }

  // False when the thread should leave.
  bool Process(const ParseItemHandle& item, StageStep& step) {
    encoded_.clear();
    std::uint64_t rejects = 0;
    for (const ResolvedLine& line : item->lines) {
      const std::string_view text(line.text, line.length);
      const util::Result<EncodedLine> encoded = encoder_.Encode(text);
      if (encoded) {
        if (records_per_shard_[encoded->shard_id]++ == 0) touched_.push_back(encoded->shard_id);
        encoded_.push_back(*encoded);
        continue;
      }
      ++rejects;
      const util::Result<std::uint64_t> logged = pipeline_.rejects.Append(
          pipeline_.files[item->file_index], line.line_number, encoded.error(), text);
      if (!logged) {
        pipeline_.ReportFailure(logged.error());
        return false;
      }
    }
    const BatchKey key{item->file_index, item->batch_number};
    const ShardPresenceMask shards = DepositRuns(key);
    const std::uint64_t records = encoded_.size();
    if (pipeline_.progress != nullptr) pipeline_.progress->AddLines(records, rejects);
    if (pipeline_.ledger.MarkParsed(key, shards, records * chess::kPackedSfenSize) &&
        pipeline_.progress != nullptr) {
      pipeline_.progress->AddFilesDone(1);
    }
    Count(*item, records, rejects, step);
    return true;
  }

 private:
  // Hands each touched shard its records of the batch, in line order.
  ShardPresenceMask DepositRuns(BatchKey key) {
    ShardPresenceMask shards;
    for (const std::uint64_t shard : touched_) {
      runs_[shard].reserve(records_per_shard_[shard] * chess::kPackedSfenSize);
      shards.Set(shard);
    }
    for (const EncodedLine& line : encoded_) {
      std::vector<std::uint8_t>& run = runs_[line.shard_id];
      run.insert(run.end(), line.record.bytes.begin(), line.record.bytes.end());
    }
    for (const std::uint64_t shard : touched_) {
      pipeline_.run_slots[shard].Put(key, std::move(runs_[shard]));
      runs_[shard] = {};
      records_per_shard_[shard] = 0;
    }
    touched_.clear();
    return shards;
  }

  void Count(const ParseItem& item, std::uint64_t records, std::uint64_t rejects, StageStep& step) {
    const std::uint64_t lines = item.lines.size();
    const std::uint64_t record_bytes = records * chess::kPackedSfenSize;
    WorkerStats& worker = step.stats().worker();
    StageStats& stage = step.stats().stage();
    worker.AddBatches(1);
    worker.AddItemsIn(lines);
    worker.AddItemsOut(records);
    worker.AddBytesIn(item.total_bytes);
    worker.AddBytesOut(record_bytes);
    worker.RecordBatchSize(lines, item.total_bytes);
    stage.AddBatches(1);
    stage.AddItemsIn(lines);
    stage.AddItemsOut(records);
    stage.AddBytesIn(item.total_bytes);
    stage.AddBytesOut(record_bytes);
    pipeline_.totals.Add({.visited_lines = lines,
                          .encoded_positions = records,
                          .invalid_positions = rejects,
                          .raw_output_bytes = record_bytes,
                          .encode_seconds = step.Finish()});
  }

  StagedPipeline& pipeline_;
  const LineEncoder encoder_;
  // The current batch's records in line order, and per shard their run and count; the shards
  // in first-touch order.
  std::vector<EncodedLine> encoded_;
  std::vector<std::vector<std::uint8_t>> runs_;
  std::vector<std::uint64_t> records_per_shard_;
  std::vector<std::uint64_t> touched_;
};

}  // namespace

void RunParseThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  StageThreadStats stats(pipeline.Worker(PipelineStage::kParse, worker_index),
                         pipeline.Stats(PipelineStage::kParse));
  ParseWorker worker(pipeline);
  RunStageLoop(
      pipeline.Gate(PipelineStage::kParse), worker_index, pipeline.stop, pipeline.parse_queue.queue,
      stats,
      [&] { return pipeline.parse_queue.IsClosed() && pipeline.parse_queue.queue.Size() == 0; },
      [&](const ParseItemHandle& item, StageStep& step) { return worker.Process(item, step); });
  stats.SetState(WorkerState::kFinished);
}

}  // namespace boardmill::pipeline
