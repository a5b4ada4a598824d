#include "compression/line_indexer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "util/stopwatch.h"

namespace boardmill::pipeline {
namespace {

// Room for an unterminated line, so that the carry rarely grows.
constexpr std::size_t kCarryReserve = 4096;
// Batches may be configured far larger than they ever fill; reserving more references than
// this up front would only claim memory (or fail) for nothing.
constexpr std::uint64_t kMaxReservedReferences = 262144;

// The length of a line of `length` bytes at `begin` without one trailing carriage return.
std::uint64_t LengthWithoutCarriageReturn(const char* begin, std::uint64_t length) {
  return length > 0 && begin[length - 1] == '\r' ? length - 1 : length;
}

}  // namespace

LineIndexer::LineIndexer(std::uint64_t batch_size, std::uint64_t line_limit)
    : batch_size_(std::max<std::uint64_t>(batch_size, 1)), line_limit_(line_limit) {
  ResetBatch();
  carry_.reserve(kCarryReserve);
}

util::Result<PushSummary> LineIndexer::Push(const std::shared_ptr<const std::string>& slab,
                                            const TextLineBatchVisitor& visitor) {
  const util::Stopwatch stopwatch;
  if (!slab) return util::Fail("Line indexer received a null text slab.");
  if (!visitor) return util::Fail("Line batch visitor must be callable.");
  PushSummary summary;
  current_slab_index_ = kNoSlab;
  const char* const text = slab->data();
  const std::uint64_t size = slab->size();
  std::uint64_t start = 0;
  while (const void* line_feed = std::memchr(text + start, '\n', size - start)) {
    const auto end = static_cast<std::uint64_t>(static_cast<const char*>(line_feed) - text);
    std::uint64_t length = 0;
    if (carry_.empty()) {
      length = DeliverSlabLine(slab, start, end);
    } else {
      carry_.append(text + start, end - start);
      length = DeliverCarry();
    }
    summary.lines += length > 0 ? 1 : 0;
    summary.bytes += length;
    start = end + 1;
    if (batch_.references.size() >= batch_size_ || LimitReached()) {
      util::Result<bool> emitted = Emit(visitor);
      if (!emitted) return std::move(emitted).TakeError();
      if (!*emitted || LimitReached()) {
        summary.should_continue = false;
        summary.seconds = stopwatch.ElapsedSeconds();
        return summary;
      }
    }
  }
  carry_.append(text + start, size - start);
  summary.seconds = stopwatch.ElapsedSeconds();
  return summary;
}

util::Result<FinishSummary> LineIndexer::Finish(const TextLineBatchVisitor& visitor) {
  const util::Stopwatch stopwatch;
  if (!visitor) return util::Fail("Line batch visitor must be callable.");
  FinishSummary summary;
  if (!carry_.empty() && !LimitReached()) {
    summary.bytes = DeliverCarry();
    summary.lines = summary.bytes > 0 ? 1 : 0;
  }
  util::Result<bool> emitted = Emit(visitor);
  if (!emitted) return std::move(emitted).TakeError();
  summary.seconds = stopwatch.ElapsedSeconds();
  return summary;
}

std::uint64_t LineIndexer::DeliverCarry() {
  batch_.owned_lines.push_back(std::move(carry_));
  carry_.clear();
  carry_.reserve(kCarryReserve);
  const std::string& line = batch_.owned_lines.back();
  const std::uint64_t length = LengthWithoutCarriageReturn(line.data(), line.size());
  if (length == 0) {
    batch_.owned_lines.pop_back();
    return 0;
  }
  AddReference(batch_.owned_lines.size() - 1, true, 0, length);
  return length;
}

std::uint64_t LineIndexer::DeliverSlabLine(const std::shared_ptr<const std::string>& slab,
                                           std::uint64_t start, std::uint64_t end) {
  const std::uint64_t length = LengthWithoutCarriageReturn(slab->data() + start, end - start);
  if (length == 0) return 0;
  if (current_slab_index_ == kNoSlab) {
    batch_.slabs.push_back(slab);
    current_slab_index_ = batch_.slabs.size() - 1;
  }
  AddReference(current_slab_index_, false, start, length);
  return length;
}

void LineIndexer::AddReference(std::uint64_t index, bool owned, std::uint64_t offset,
                               std::uint64_t length) {
  if (batch_.references.capacity() == 0) ProvideReferenceRoom();
  ++line_counter_;
  batch_.references.push_back(TextLineReference{index, owned, offset, length, line_counter_});
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
  carry_.clear();
  line_counter_ = 0;
}

void LineIndexer::ReuseReferences(std::vector<TextLineReference>&& references) {
  spare_references_ = std::move(references);
}

}  // namespace boardmill::pipeline
