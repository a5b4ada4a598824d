#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/line_encoder.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

// One parse thread: encodes the lines of a batch, gathers the batch's records in one buffer,
// grouped by shard in line order, deposits each shard's stretch for its writer and marks the
// batch parsed. The records are encoded into a buffer the thread keeps first, so a batch costs
// one allocation whatever its line count and however many shards it feeds.
class ParseWorker {
 public:
  explicit ParseWorker(StagedPipeline& pipeline)
      : pipeline_(pipeline),
        encoder_(pipeline.options.enable_fast_encoder, pipeline.options.fen_reading,
                 pipeline.router),
        records_per_shard_(pipeline.shard_count),
        next_offset_(pipeline.shard_count) {
    touched_.reserve(shards::kRoutingKeyCount);
  }

  // False when the thread should leave.
  bool Process(const ParseItemHandle& item, StageStep& step) {
    encoded_.clear();
    const util::Result<LineBatchCounts> counts = encoder_.EncodeBatch(
        std::span<const ResolvedLine>(item->lines),
        [this](const EncodedLine& encoded) {
          if (records_per_shard_[encoded.shard_id]++ == 0) touched_.push_back(encoded.shard_id);
          encoded_.push_back(encoded);
          return util::Result<void>();
        },
        [this, &item](const ResolvedLine& line, const std::string& message) -> util::Result<void> {
          util::Result<std::uint64_t> logged = pipeline_.rejects.Append(
              pipeline_.files[item->file_index], line.line_number, message, line.text);
          if (!logged) return std::move(logged).TakeError();
          return {};
        });
    if (!counts) {
      pipeline_.ReportFailure(counts.error());
      return false;
    }
    const BatchKey key{item->file_index, item->batch_number};
    const ShardPresenceMask shards = DepositRuns(key);
    if (pipeline_.progress != nullptr) {
      pipeline_.progress->AddLines(counts->records, counts->rejects);
    }
    if (pipeline_.ledger.MarkParsed(key, shards, counts->records * chess::kPackedSfenSize) &&
        pipeline_.progress != nullptr) {
      pipeline_.progress->AddFilesDone(1);
    }
    Count(*item, *counts, step);
    return true;
  }

 private:
  // Hands each touched shard its stretch of the batch's records, in line order. The buffer
  // tells the ledger when the last writer has taken its stretch and the memory is free.
  ShardPresenceMask DepositRuns(BatchKey key) {
    ShardPresenceMask shards;
    if (encoded_.empty()) return shards;
    std::uint64_t offset = 0;
    for (const std::uint64_t shard : touched_) {
      next_offset_[shard] = offset;
      offset += records_per_shard_[shard] * chess::kPackedSfenSize;
      shards.Set(shard);
    }
    BatchLedger& ledger = pipeline_.ledger;
    auto* buffer = new std::vector<std::uint8_t>(offset);
    const std::shared_ptr<const std::vector<std::uint8_t>> records(
        buffer, [&ledger](const std::vector<std::uint8_t>* released) {
          ledger.ReleaseRecords(released->size());
          delete released;
        });
    for (const EncodedLine& line : encoded_) {
      std::uint64_t& at = next_offset_[line.shard_id];
      std::copy(line.record.bytes.begin(), line.record.bytes.end(), buffer->begin() + at);
      at += chess::kPackedSfenSize;
    }
    for (const std::uint64_t shard : touched_) {
      const std::uint64_t size = records_per_shard_[shard] * chess::kPackedSfenSize;
      pipeline_.run_slots[shard].Put(key, ShardRun{records, next_offset_[shard] - size, size});
      records_per_shard_[shard] = 0;
    }
    touched_.clear();
    return shards;
  }

  void Count(const ParseItem& item, const LineBatchCounts& counts, StageStep& step) {
    const std::uint64_t lines = item.lines.size();
    const std::uint64_t record_bytes = counts.records * chess::kPackedSfenSize;
    WorkerStats& worker = step.stats().worker();
    StageStats& stage = step.stats().stage();
    worker.AddBatches(1);
    worker.AddItemsIn(lines);
    worker.AddItemsOut(counts.records);
    worker.AddBytesIn(item.total_bytes);
    worker.AddBytesOut(record_bytes);
    worker.RecordBatchSize(lines, item.total_bytes);
    stage.AddBatches(1);
    stage.AddItemsIn(lines);
    stage.AddItemsOut(counts.records);
    stage.AddBytesIn(item.total_bytes);
    stage.AddBytesOut(record_bytes);
    pipeline_.totals.Add(counts.Totals(step.Finish()));
  }

  StagedPipeline& pipeline_;
  const LineEncoder encoder_;
  // The current batch's records in line order; per shard their count and where the next one
  // goes in the batch's buffer; the shards in first-touch order.
  std::vector<EncodedLine> encoded_;
  std::vector<std::uint64_t> records_per_shard_;
  std::vector<std::uint64_t> next_offset_;
  std::vector<std::uint64_t> touched_;
};

}  // namespace

void RunParseThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  ParseWorker worker(pipeline);
  RunStageThread(
      pipeline, PipelineStage::kParse, worker_index, pipeline.parse_queue.queue,
      [&] { return pipeline.parse_queue.IsClosed() && pipeline.parse_queue.queue.Size() == 0; },
      [&](const ParseItemHandle& item, StageStep& step) { return worker.Process(item, step); },
      [&] {
        if (pipeline.live_parsers.fetch_sub(1) == 1) {
          pipeline.Gate(PipelineStage::kCompress).WakeAll();
        }
      });
}

}  // namespace boardmill::pipeline
