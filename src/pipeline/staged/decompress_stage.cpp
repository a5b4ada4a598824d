#include <map>
#include <memory>

#include "compression/zstd_text_slab_decoder.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

constexpr std::uint64_t kSlabBytes = std::uint64_t{8} << 20;

// One decompress thread: a decoder per input file in progress on this thread. Files reach the
// same thread by index, in order, so no decoder is ever shared.
class DecompressWorker {
 public:
  explicit DecompressWorker(StagedPipeline& pipeline) : pipeline_(pipeline) {}

  // False when the thread should leave.
  bool Process(DecompressItem item, StageStep& step) {
    StageQueue<SlabItem>& target =
        *pipeline_.line_index_queues[item.file_index % pipeline_.line_index_queues.size()];
    Output output(pipeline_, item.file_index, target, step);
    const compression::TextSlabVisitor visitor = [&](compression::ZstdTextSlab&& slab) {
      return output.HandOn(std::move(slab));
    };

    const util::Result<compression::ZstdSlabDecodeStats> decoded =
        item.end_of_file ? FinishFile(item.file_index, visitor)
                         : DecoderFor(item.file_index).Feed(item.bytes, visitor);
    if (!decoded) {
      pipeline_.ReportFailure(decoded.error());
      return false;
    }
    if (!output.handed_on) return false;
    if (item.end_of_file &&
        !pipeline_.PushToBoundThread(PipelineStage::kLineIndex, target,
                                     SlabItem{item.file_index, {}, /*end_of_file=*/true}, step)) {
      return false;
    }
    Count(item, output, step);
    return true;
  }

 private:
  // Hands the slabs of one item on to the file's line-index queue, counting them.
  struct Output {
    Output(StagedPipeline& run, std::uint64_t file, StageQueue<SlabItem>& queue,
           StageStep& item_step)
        : pipeline(run), file_index(file), target(queue), step(item_step) {}

    StagedPipeline& pipeline;
    std::uint64_t file_index;
    StageQueue<SlabItem>& target;
    StageStep& step;
    std::uint64_t slabs = 0;
    std::uint64_t bytes = 0;
    bool handed_on = true;

    util::Result<bool> HandOn(compression::ZstdTextSlab&& slab) {
      const std::uint64_t size = slab.text->size();
      handed_on = pipeline.PushToBoundThread(PipelineStage::kLineIndex, target,
                                             SlabItem{file_index, std::move(slab), false}, step);
      if (!handed_on) return false;
      ++slabs;
      bytes += size;
      return true;
    }
  };

  compression::ZstdTextSlabDecoder& DecoderFor(std::uint64_t file_index) {
    std::unique_ptr<compression::ZstdTextSlabDecoder>& decoder = decoders_[file_index];
    if (!decoder) {
      decoder = std::make_unique<compression::ZstdTextSlabDecoder>(
          kSlabBytes, [this](std::uint64_t size) { return pipeline_.slab_pool.Acquire(size); });
    }
    return *decoder;
  }

  // An empty file never had a decoder; it ends without text.
  util::Result<compression::ZstdSlabDecodeStats> FinishFile(
      std::uint64_t file_index, const compression::TextSlabVisitor& visitor) {
    const auto found = decoders_.find(file_index);
    if (found == decoders_.end()) return compression::ZstdSlabDecodeStats{};
    util::Result<compression::ZstdSlabDecodeStats> finished = found->second->Finish(visitor);
    decoders_.erase(found);
    return finished;
  }

  void Count(const DecompressItem& item, const Output& output, StageStep& step) {
    const std::uint64_t chunks = item.end_of_file ? 0 : 1;
    WorkerStats& worker = step.stats().worker();
    StageStats& stage = step.stats().stage();
    worker.AddBatches(1);
    worker.AddItemsIn(chunks);
    worker.AddItemsOut(output.slabs);
    worker.AddBytesIn(item.bytes.size());
    worker.AddBytesOut(output.bytes);
    worker.RecordBatchSize(output.slabs, output.bytes);
    stage.AddBatches(1);
    stage.AddItemsIn(chunks);
    stage.AddItemsOut(output.slabs);
    stage.AddBytesIn(item.bytes.size());
    stage.AddBytesOut(output.bytes);
    pipeline_.totals.Add(
        {.decompressed_input_bytes = output.bytes, .decompress_seconds = step.Finish()});
  }

  StagedPipeline& pipeline_;
  std::map<std::uint64_t, std::unique_ptr<compression::ZstdTextSlabDecoder>> decoders_;
};

}  // namespace

void RunDecompressThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  DecompressWorker worker(pipeline);
  RunOwnQueueStageThread(
      pipeline, PipelineStage::kDecompress, worker_index, *pipeline.decompress_queues[worker_index],
      [&](DecompressItem item, StageStep& step) { return worker.Process(std::move(item), step); },
      [&] {
        if (pipeline.live_decompressors.fetch_sub(1) == 1) pipeline.CloseLineIndexInputs();
      });
}

}  // namespace boardmill::pipeline
