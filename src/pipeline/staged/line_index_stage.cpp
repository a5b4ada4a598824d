#include <map>

#include "compression/line_indexer.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

// Fills `item` with the lines `batch` refers to, pointing into the batch's slabs and owned
// lines, which the item takes over so that the text stays alive while the batch is parsed.
util::Result<void> ResolveLines(TextLineBatch&& batch, ParseItem& item) {
  item.slabs = std::move(batch.slabs);
  item.owned_lines = std::move(batch.owned_lines);
  item.lines.reserve(batch.references.size());
  for (const TextLineReference& reference : batch.references) {
    const char* text = nullptr;
    if (reference.owned) {
      if (reference.index >= item.owned_lines.size()) {
        return util::Fail("Line indexer emitted an out-of-range owned line reference.");
      }
      text = item.owned_lines[reference.index].data();
    } else {
      if (reference.index >= item.slabs.size() ||
          reference.offset + reference.length > item.slabs[reference.index]->size()) {
        return util::Fail("Line indexer emitted an out-of-range slab reference.");
      }
      text = item.slabs[reference.index]->data() + reference.offset;
    }
    item.lines.push_back(ResolvedLine{text, reference.length, reference.line_number});
    item.total_bytes += reference.length;
  }
  return {};
}

// One line-index thread: an indexer per input file in progress on this thread. Files reach the
// same thread by index, in order, so no indexer is ever shared.
class LineIndexWorker {
 public:
  explicit LineIndexWorker(StagedPipeline& pipeline) : pipeline_(pipeline) {}

  // False when the thread should leave.
  bool Process(const SlabItem& item, StageStep& step) {
    FileIndexing& file =
        files_.try_emplace(item.file_index, pipeline_.parse_batch_lines).first->second;
    step_ = &step;
    file_index_ = item.file_index;
    batch_lines_ = 0;
    batch_bytes_ = 0;
    const TextLineBatchVisitor visitor = [this, &file](TextLineBatch&& batch) {
      return Emit(file, std::move(batch));
    };

    util::Result<void> indexed = {};
    if (!file.limited && !stopped_) {
      if (item.end_of_file) {
        util::Result<FinishSummary> finished = file.indexer.Finish(visitor);
        if (!finished) indexed = std::move(finished).TakeError();
      } else {
        util::Result<PushSummary> pushed = file.indexer.Push(item.slab.text, visitor);
        if (!pushed) indexed = std::move(pushed).TakeError();
      }
    }
    if (!indexed) {
      pipeline_.ReportFailure(indexed.error());
      return false;
    }
    if (stopped_) return false;
    const std::uint64_t slab_bytes = item.end_of_file ? 0 : item.slab.text->size();
    if (item.end_of_file) {
      pipeline_.ledger.CompleteFile(item.file_index, file.next_batch);
      files_.erase(item.file_index);
    }
    Count(slab_bytes, step);
    return true;
  }

 private:
  struct FileIndexing {
    explicit FileIndexing(std::uint64_t batch_lines) : indexer(batch_lines) {}

    LineIndexer indexer;
    std::uint64_t next_batch = 0;
    std::uint64_t emitted_lines = 0;
    bool limited = false;  // --max-lines-per-file reached: the rest of the file is dropped
  };

  // Cuts the batch to the file's line allowance, turns it into a parse item and queues it.
  util::Result<bool> Emit(FileIndexing& file, TextLineBatch&& batch) {
    const std::uint64_t limit = pipeline_.options.max_lines_per_file;
    if (limit != 0) {
      const std::uint64_t allowance = limit - file.emitted_lines;
      if (allowance == 0) {
        file.limited = true;
        return false;
      }
      if (batch.references.size() > allowance) {
        batch.references.resize(allowance);
        file.limited = true;
      }
    }
    ParseItemHandle item = pipeline_.item_pool.Acquire();
    util::Result<void> resolved = ResolveLines(std::move(batch), *item);
    if (!resolved) return std::move(resolved).TakeError();
    item->file_index = file_index_;
    item->batch_number = file.next_batch;
    const std::uint64_t lines = item->lines.size();
    const std::uint64_t bytes = item->total_bytes;
    if (!step_->PushTo(pipeline_.parse_queue.queue, std::move(item))) {
      stopped_ = true;
      return false;
    }
    ++file.next_batch;
    file.emitted_lines += lines;
    batch_lines_ += lines;
    batch_bytes_ += bytes;
    StageStats& stage = step_->stats().stage();
    stage.AddItemsOut(lines);
    stage.AddBytesOut(bytes);
    stage.AddBatches(1);
    step_->stats().worker().RecordBatchSize(lines, bytes);
    // A file that has reached its allowance needs no further indexing.
    return !file.limited;
  }

  void Count(std::uint64_t slab_bytes, StageStep& step) {
    WorkerStats& worker = step.stats().worker();
    worker.AddBatches(1);
    worker.AddItemsIn(1);
    worker.AddItemsOut(batch_lines_);
    worker.AddBytesIn(slab_bytes);
    worker.AddBytesOut(batch_bytes_);
    worker.RecordBatchSize(batch_lines_, batch_bytes_);
    step.stats().stage().AddItemsIn(1);
    step.stats().stage().AddBytesIn(slab_bytes);
    pipeline_.totals.Add({.split_seconds = step.Finish()});
  }

  StagedPipeline& pipeline_;
  std::map<std::uint64_t, FileIndexing> files_;
  // The item being processed: its step, file and what its batches carried.
  StageStep* step_ = nullptr;
  std::uint64_t file_index_ = 0;
  std::uint64_t batch_lines_ = 0;
  std::uint64_t batch_bytes_ = 0;
  bool stopped_ = false;
};

}  // namespace

void RunLineIndexThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  LineIndexWorker worker(pipeline);
  RunOwnQueueStageThread(
      pipeline, PipelineStage::kLineIndex, worker_index, *pipeline.line_index_queues[worker_index],
      [&](const SlabItem& item, StageStep& step) { return worker.Process(item, step); },
      [&] {
        if (pipeline.live_line_indexers.fetch_sub(1) == 1) pipeline.CloseParseQueue();
      });
}

}  // namespace boardmill::pipeline
