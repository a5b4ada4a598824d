#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compression/line_splitter.h"
#include "compression/text_line_batch.h"
#include "util/result.h"

namespace boardmill::pipeline {

// Receives full batches: true continues, false asks the indexer to stop, an error aborts.
using TextLineBatchVisitor = std::function<util::Result<bool>(TextLineBatch&&)>;

struct PushSummary {
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;
  double seconds = 0.0;
  // False when the visitor asked to stop; the indexer must then only be discarded.
  bool should_continue = true;
};

struct FinishSummary {
  // 0 or 1: the last line when the file does not end with a line feed.
  std::uint64_t lines = 0;
  std::uint64_t bytes = 0;
  double seconds = 0.0;
};

// Cuts the decompressed text of one file, slab by slab, into batches of line references.
// Empty lines and lines holding only a carriage return are skipped and do not advance the line
// number, so line numbers do not depend on where the slabs are cut.
class LineIndexer {
 public:
  // `batch_size` lines per batch; 0 is treated as 1. With a `line_limit` (0: none) the indexer
  // delivers no more lines than that: the batch that reaches it goes out at once, however full,
  // and Push then asks to stop, so that a caller taking only the first lines of a file need not
  // wait for (or decode) the rest.
  explicit LineIndexer(std::uint64_t batch_size, std::uint64_t line_limit = 0);

  // Indexes one slab; batches that fill up go to `visitor` on the way.
  util::Result<PushSummary> Push(const std::shared_ptr<const std::string>& slab,
                                 const TextLineBatchVisitor& visitor);

  // Ends the file: the unterminated rest becomes the last line and the partial batch goes out.
  util::Result<FinishSummary> Finish(const TextLineBatchVisitor& visitor);

  // Makes the indexer ready for another file, as if it were new, but keeps its buffers.
  void Restart();

  // Hands back the reference vector of a batch this indexer emitted, once its references have
  // been read, so that the next batch fills it instead of allocating its own. May be called from
  // within the visitor.
  void ReuseReferences(std::vector<TextLineReference>&& references);

 private:
  // Counts a line the splitter handed over and emits the batch when it is full or holds the
  // last line wanted; false when the indexer is to stop.
  util::Result<bool> AfterLine(std::uint64_t length, PushSummary& summary,
                               const TextLineBatchVisitor& visitor);
  void AddOwnedLine(std::string&& line, std::uint64_t number);
  // `line` lies inside `slab`.
  void AddSlabLine(const std::shared_ptr<const std::string>& slab, std::string_view line,
                   std::uint64_t number);
  void AddReference(std::uint64_t index, bool owned, std::uint64_t offset, std::uint64_t length,
                    std::uint64_t number);
  void ProvideReferenceRoom();
  util::Result<bool> Emit(const TextLineBatchVisitor& visitor);
  void ResetBatch();

  static constexpr std::uint64_t kNoSlab = std::numeric_limits<std::uint64_t>::max();

  bool LimitReached() const { return line_limit_ != 0 && splitter_.line_count() >= line_limit_; }

  std::uint64_t batch_size_;
  std::uint64_t line_limit_;
  TextLineBatch batch_;
  // Position of the slab being indexed in the current batch's slabs, or kNoSlab.
  std::uint64_t current_slab_index_ = kNoSlab;
  compression::LineSplitter splitter_;
  // A reference vector handed back, for the next batch.
  std::vector<TextLineReference> spare_references_;
};

}  // namespace boardmill::pipeline
