#include "compression/line_indexer.h"

#include <algorithm>
#include <utility>

#include "util/stopwatch.h"

namespace boardmill::pipeline {
namespace {

// Batches may be configured far larger than they ever fill; reserving more references than
// this up front would only claim memory (or fail) for nothing.
constexpr std::uint64_t kMaxReservedReferences = 262144;

}  // namespace

LineIndexer::LineIndexer(std::uint64_t batch_size, std::uint64_t line_limit)
    : batch_size_(std::max<std::uint64_t>(batch_size, 1)), line_limit_(line_limit) {
  ResetBatch();
}

util::Result<PushSummary> LineIndexer::Push(const std::shared_ptr<const std::string>& slab,
                                            const TextLineBatchVisitor& visitor) {
  const util::Stopwatch stopwatch;
  if (!slab) return util::Fail("Line indexer received a null text slab.");
  if (!visitor) return util::Fail("Line batch visitor must be callable.");
  PushSummary summary;
  current_slab_index_ = kNoSlab;
  util::Result<bool> more = splitter_.Split(
      *slab,
      [&](std::string_view line, std::uint64_t number) {
        AddSlabLine(slab, line, number);
        return AfterLine(line.size(), summary, visitor);
      },
      [&](std::string&& line, std::uint64_t number) {
        const std::uint64_t length = line.size();
        AddOwnedLine(std::move(line), number);
        return AfterLine(length, summary, visitor);
      });
  if (!more) return std::move(more).TakeError();
  summary.should_continue = *more;
  summary.seconds = stopwatch.ElapsedSeconds();
  return summary;
}

util::Result<bool> LineIndexer::AfterLine(std::uint64_t length, PushSummary& summary,
                                          const TextLineBatchVisitor& visitor) {
  ++summary.lines;
  summary.bytes += length;
  if (batch_.references.size() < batch_size_ && !LimitReached()) return true;
  util::Result<bool> emitted = Emit(visitor);
  if (!emitted || !*emitted) return emitted;
  return !LimitReached();
}

util::Result<FinishSummary> LineIndexer::Finish(const TextLineBatchVisitor& visitor) {
  const util::Stopwatch stopwatch;
  if (!visitor) return util::Fail("Line batch visitor must be callable.");
  FinishSummary summary;
  if (!LimitReached()) {
    util::Result<bool> finished =
        splitter_.Finish([&](std::string&& line, std::uint64_t number) -> util::Result<bool> {
          summary.lines = 1;
          summary.bytes = line.size();
          AddOwnedLine(std::move(line), number);
          return true;
        });
    if (!finished) return std::move(finished).TakeError();
  }
  util::Result<bool> emitted = Emit(visitor);
  if (!emitted) return std::move(emitted).TakeError();
  summary.seconds = stopwatch.ElapsedSeconds();
  return summary;
}

void LineIndexer::AddOwnedLine(std::string&& line, std::uint64_t number) {
  batch_.owned_lines.push_back(std::move(line));
  AddReference(batch_.owned_lines.size() - 1, true, 0, batch_.owned_lines.back().size(), number);
}

void LineIndexer::AddSlabLine(const std::shared_ptr<const std::string>& slab, std::string_view line,
                              std::uint64_t number) {
  if (current_slab_index_ == kNoSlab) {
    batch_.slabs.push_back(slab);
    current_slab_index_ = batch_.slabs.size() - 1;
  }
  AddReference(current_slab_index_, false, static_cast<std::uint64_t>(line.data() - slab->data()),
               line.size(), number);
}

void LineIndexer::AddReference(std::uint64_t index, bool owned, std::uint64_t offset,
                               std::uint64_t length, std::uint64_t number) {
  if (batch_.references.capacity() == 0) ProvideReferenceRoom();
  batch_.references.push_back(TextLineReference{index, owned, offset, length, number});
  batch_.total_bytes += length;
}

util::Result<bool> LineIndexer::Emit(const TextLineBatchVisitor& visitor) {
  if (batch_.references.empty()) return true;
  TextLineBatch full_batch = std::move(batch_);
  ResetBatch();
  return visitor(std::move(full_batch));
}

// Room is made when a batch receives its first line, not when it starts: the batch that starts
// as a file ends would otherwise reserve room it never uses, and the room handed back by the
// batch before may only arrive after the next one has started.
void LineIndexer::ProvideReferenceRoom() {
  if (spare_references_.capacity() != 0) {
    batch_.references = std::move(spare_references_);
    batch_.references.clear();
    spare_references_ = {};
    return;
  }
  batch_.references.reserve(std::min(batch_size_, kMaxReservedReferences));
}

void LineIndexer::ResetBatch() {
  batch_ = TextLineBatch{};
  current_slab_index_ = kNoSlab;
}

void LineIndexer::Restart() {
  if (spare_references_.capacity() == 0) spare_references_ = std::move(batch_.references);
  ResetBatch();
  splitter_.Restart();
}

void LineIndexer::ReuseReferences(std::vector<TextLineReference>&& references) {
  spare_references_ = std::move(references);
}

}  // namespace boardmill::pipeline
