#include <algorithm>
#include <bit>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compression/zstd_context.h"
#include "compression/zstd_text_slab_decoder.h"
#include "pipeline/staged/stage_step.h"
#include "pipeline/staged/stage_workers.h"

namespace boardmill::pipeline {

namespace {

// A decoder clears every slab to its full size before it fills it, so a small file whose text
// would fill a fraction of a full slab gets a slab about its own size: the declared size of its
// frame, or else this many times its compressed size (FEN text compresses about four to one;
// text that compresses better just takes more slabs), rounded up to a power of two so that
// pooled slab buffers fit the next small file too.
constexpr std::uint64_t kExpectedExpansion = 4;
constexpr std::uint64_t kSmallestSlabBytes = std::uint64_t{64} << 10;

std::uint64_t SlabBytesFor(const DecompressItem& first_chunk, const StagedMemoryPlan& memory) {
  const std::uint64_t size = first_chunk.bytes.size();
  const bool whole_file = first_chunk.offset == 0 && size < memory.read_chunk_bytes;
  if (!whole_file) return memory.slab_bytes;
  const std::uint64_t declared = compression::DeclaredContentSize(first_chunk.bytes);
  const std::uint64_t expected = declared != 0 ? declared : size * kExpectedExpansion;
  const std::uint64_t rounded = std::bit_ceil(std::min(expected, memory.slab_bytes));
  return std::clamp(rounded, std::min(kSmallestSlabBytes, memory.slab_bytes), memory.slab_bytes);
}

// Hands what one item yields on to the file's line-index queue, counting the slabs.
class SlabOutput {
 public:
  SlabOutput(StagedPipeline& pipeline, std::uint64_t file_index, StageQueue<SlabItem>& target,
             StageStep& step)
      : pipeline_(pipeline), file_index_(file_index), target_(target), step_(step) {}

  // Stops the decoder (false) once the file has given the lines the run takes: the rest of its
  // text is not needed.
  util::Result<bool> HandOnSlab(compression::ZstdTextSlab&& slab) {
    if (pipeline_.file_stops.Stopped(file_index_)) return false;
    const std::uint64_t size = slab.text->size();
    if (!HandOn(SlabItem{file_index_, std::move(slab), false, {}})) return false;
    ++slabs_;
    bytes_ += size;
    return true;
  }
  // A decoding failure of the file, named in the message.
  bool HandOnFailure(std::string_view error) {
    util::Error failure = compression::InputDecodingError(pipeline_.files[file_index_], error);
    return HandOn(SlabItem{file_index_, {}, false, std::move(failure.message)});
  }
  bool HandOnEnd() { return HandOn(SlabItem{file_index_, {}, true, {}}); }

  // False once a queue refused an item: the run is stopping.
  bool handed_on() const { return handed_on_; }
  std::uint64_t slabs() const { return slabs_; }
  std::uint64_t bytes() const { return bytes_; }

 private:
  bool HandOn(SlabItem item) {
    handed_on_ =
        pipeline_.PushToBoundThread(PipelineStage::kLineIndex, target_, std::move(item), step_);
    return handed_on_;
  }

  StagedPipeline& pipeline_;
  const std::uint64_t file_index_;
  StageQueue<SlabItem>& target_;
  StageStep& step_;
  std::uint64_t slabs_ = 0;
  std::uint64_t bytes_ = 0;
  bool handed_on_ = true;
};

// One decompress thread: a decoder per input file in progress on this thread. Files reach the
// same thread by index, in order, so no decoder is ever shared. Decoders of finished files are
// kept for the next ones, so that a thread going through many small files does not set up a
// decompression context and its window for each.
class DecompressWorker {
 public:
  explicit DecompressWorker(StagedPipeline& pipeline) : pipeline_(pipeline) {}

  // False when the thread should leave.
  bool Process(const DecompressItem& item, StageStep& step) {
    StageQueue<SlabItem>& target =
        *pipeline_.line_index_queues[item.file_index % pipeline_.line_index_queues.size()];
    SlabOutput output(pipeline_, item.file_index, target, step);
    const bool handed_on =
        item.end_of_file ? EndFile(item.file_index, output) : DecodeChunk(item, output);
    if (!handed_on) return false;
    Count(item, output, step);
    return true;
  }

 private:
  using Decoder = std::unique_ptr<compression::ZstdTextSlabDecoder>;
  // A file without a decoder has been dropped: it failed, or it has given the lines the run
  // takes. Its later chunks are not decoded.
  using Decoders = std::map<std::uint64_t, Decoder>;

  bool DecodeChunk(const DecompressItem& item, SlabOutput& output) {
    const auto [entry, first_chunk] = decoders_.try_emplace(item.file_index);
    if (first_chunk) entry->second = AcquireDecoder(SlabBytesFor(item, pipeline_.memory));
    if (!entry->second) return true;
    const util::Result<compression::ZstdSlabDecodeStats> decoded = entry->second->Feed(
        item.bytes,
        [&](compression::ZstdTextSlab&& slab) { return output.HandOnSlab(std::move(slab)); });
    if (!output.handed_on()) return false;
    if (!decoded) {
      Drop(*entry);
      return output.HandOnFailure(decoded.error());
    }
    // A decoder stopped inside a chunk cannot go on with the next one.
    if (pipeline_.file_stops.Stopped(item.file_index)) Drop(*entry);
    return true;
  }

  // Flushes the file's decoder, checks that its last frame ended, and ends the file. An empty
  // file never had a decoder.
  bool EndFile(std::uint64_t file_index, SlabOutput& output) {
    const auto entry = decoders_.find(file_index);
    if (entry != decoders_.end()) {
      const bool needed = entry->second && !pipeline_.file_stops.Stopped(file_index);
      if (needed) {
        const util::Result<compression::ZstdSlabDecodeStats> finished = entry->second->Finish(
            [&](compression::ZstdTextSlab&& slab) { return output.HandOnSlab(std::move(slab)); });
        if (!output.handed_on()) return false;
        if (!finished && !output.HandOnFailure(finished.error())) return false;
      }
      Drop(*entry);
      decoders_.erase(entry);
    }
    return output.HandOnEnd();
  }

  Decoder AcquireDecoder(std::uint64_t slab_bytes) {
    if (idle_decoders_.empty()) {
      return std::make_unique<compression::ZstdTextSlabDecoder>(
          slab_bytes, [this](std::uint64_t size) { return pipeline_.slab_pool.Acquire(size); });
    }
    Decoder decoder = std::move(idle_decoders_.back());
    idle_decoders_.pop_back();
    decoder->Reset(slab_bytes);
    return decoder;
  }

  void Drop(Decoders::value_type& entry) {
    if (entry.second) idle_decoders_.push_back(std::move(entry.second));
  }

  void Count(const DecompressItem& item, const SlabOutput& output, StageStep& step) {
    const std::uint64_t chunks = item.end_of_file ? 0 : 1;
    WorkerStats& worker = step.stats().worker();
    StageStats& stage = step.stats().stage();
    worker.AddBatches(1);
    worker.AddItemsIn(chunks);
    worker.AddItemsOut(output.slabs());
    worker.AddBytesIn(item.bytes.size());
    worker.AddBytesOut(output.bytes());
    worker.RecordBatchSize(output.slabs(), output.bytes());
    stage.AddBatches(1);
    stage.AddItemsIn(chunks);
    stage.AddItemsOut(output.slabs());
    stage.AddBytesIn(item.bytes.size());
    stage.AddBytesOut(output.bytes());
    pipeline_.totals.Add(
        {.decompressed_input_bytes = output.bytes(), .decompress_seconds = step.Finish()});
  }

  StagedPipeline& pipeline_;
  Decoders decoders_;
  std::vector<Decoder> idle_decoders_;
};

}  // namespace

void RunDecompressThread(StagedPipeline& pipeline, std::uint64_t worker_index) {
  DecompressWorker worker(pipeline);
  RunOwnQueueStageThread(pipeline, PipelineStage::kDecompress, worker_index,
                         *pipeline.decompress_queues[worker_index], pipeline.live_decompressors,
                         worker, [&] { pipeline.CloseLineIndexInputs(); });
}

}  // namespace boardmill::pipeline
