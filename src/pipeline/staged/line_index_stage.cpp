#include <map>
#include <memory>
#include <vector>

#include "compression/line_indexer.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

// Fills `item` with the lines `batch` refers to, pointing into the batch's slabs and owned
// lines, which the item takes over so that the text stays alive while the batch is parsed. The
// batch keeps its references.
util::Result<void> ResolveLines(TextLineBatch& batch, ParseItem& item) {
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
    item.lines.push_back(ResolvedLine{{text, reference.length}, reference.line_number});
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
    FileIndexing& file = FileFor(item.file_index);
    step_ = &step;
    file_index_ = item.file_index;
    batch_lines_ = 0;
    batch_bytes_ = 0;
    // Damage after the lines the run takes from the file does not matter (see SlabItem).
    if (!item.failure.empty()) {
      if (file.limited) return true;
      pipeline_.ReportFailure(item.failure);
      return false;
    }
    const util::Result<void> indexed = Index(item, file);
    if (!indexed) {
      pipeline_.ReportFailure(indexed.error());
      return false;
    }
    if (stopped_) return false;
    const std::uint64_t slab_bytes = item.slab.text ? item.slab.text->size() : 0;
    if (item.end_of_file) {
      // A file cut by --max-lines-per-file was completed when it reached the cut.
      if (!file.limited) CompleteFile(file);
      EndFile(item.file_index);
    }
    Count(slab_bytes, step);
    return true;
  }

 private:
  struct FileIndexing {
    FileIndexing(std::uint64_t batch_lines, std::uint64_t line_limit)
        : indexer(batch_lines, line_limit) {}

    LineIndexer indexer;
    std::uint64_t next_batch = 0;
    std::uint64_t emitted_lines = 0;
    bool limited = false;  // --max-lines-per-file reached: the rest of the file is dropped
  };
  using FileIndexingHandle = std::unique_ptr<FileIndexing>;

  // The file's indexing, started on its first item. Indexings of finished files are kept for
  // the next ones, so that a thread going through many small files reuses their buffers.
  FileIndexing& FileFor(std::uint64_t file_index) {
    FileIndexingHandle& file = files_[file_index];
    if (file) return *file;
    if (idle_.empty()) {
      file = std::make_unique<FileIndexing>(pipeline_.memory.parse_batch_lines,
                                            pipeline_.options.max_lines_per_file);
      return *file;
    }
    file = std::move(idle_.back());
    idle_.pop_back();
    file->indexer.Restart();
    file->next_batch = 0;
    file->emitted_lines = 0;
    file->limited = false;
    return *file;
  }

  void EndFile(std::uint64_t file_index) {
    const auto found = files_.find(file_index);
    idle_.push_back(std::move(found->second));
    files_.erase(found);
  }

  util::Result<void> Index(const SlabItem& item, FileIndexing& file) {
    if (file.limited) return {};
    const TextLineBatchVisitor visitor = [this, &file](TextLineBatch&& batch) {
      return Emit(file, std::move(batch));
    };
    if (item.end_of_file) {
      util::Result<FinishSummary> finished = file.indexer.Finish(visitor);
      if (!finished) return std::move(finished).TakeError();
      return {};
    }
    util::Result<PushSummary> pushed = file.indexer.Push(item.slab.text, visitor);
    if (!pushed) return std::move(pushed).TakeError();
    return {};
  }

  // Turns the batch into a parse item and queues it. The indexer delivers no more than the
  // file's --max-lines-per-file, and the batch that reaches them at once: the file is then
  // complete, so the writers need not wait for the rest of it, and its reader and decompressor
  // stop.
  util::Result<bool> Emit(FileIndexing& file, TextLineBatch&& batch) {
    const std::uint64_t limit = pipeline_.options.max_lines_per_file;
    ParseItemHandle item = pipeline_.item_pool.Acquire();
    util::Result<void> resolved = ResolveLines(batch, *item);
    if (!resolved) return std::move(resolved).TakeError();
    file.indexer.ReuseReferences(std::move(batch.references));
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
    if (limit == 0 || file.emitted_lines < limit) return true;
    file.limited = true;
    pipeline_.file_stops.Stop(file_index_);
    CompleteFile(file);
    return false;
  }

  void CompleteFile(const FileIndexing& file) {
    const bool parsed = pipeline_.ledger.CompleteFile(file_index_, file.next_batch);
    if (parsed && pipeline_.progress != nullptr) pipeline_.progress->AddFilesDone(1);
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
  std::map<std::uint64_t, FileIndexingHandle> files_;
  std::vector<FileIndexingHandle> idle_;
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
  RunOwnQueueStageThread(pipeline, PipelineStage::kLineIndex, worker_index,
                         *pipeline.line_index_queues[worker_index], pipeline.live_line_indexers,
                         worker, [&] { pipeline.CloseParseQueue(); });
}

}  // namespace boardmill::pipeline
