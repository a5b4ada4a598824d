#pragma once

#include <compare>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "compression/zstd_text_slab.h"

namespace boardmill::pipeline {

// Names one line batch of the run: batches are numbered 0, 1, 2, ... within each input file, so
// ordering keys orders batches in input order.
struct BatchKey {
  std::uint64_t file_index = 0;
  std::uint64_t batch_number = 0;

  // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy 14 misreads the defaulted comparison
  auto operator<=>(const BatchKey&) const = default;
};

// A chunk of compressed input on its way from a reader to the decompress thread of its file, or
// the marker that ends the file (no bytes).
struct DecompressItem {
  std::uint64_t file_index = 0;
  std::vector<std::uint8_t> bytes;
  std::uint64_t offset = 0;
  bool end_of_file = false;
};

// A slab of decompressed text on its way to the line-index thread of its file, the marker that
// ends the file (no slab), or the decompression failure of the file (no slab). A failure travels
// behind the file's slabs because it only fails the run if the file's lines are still needed
// when the line-index thread reaches it: a file cut by --max-lines-per-file before its damage
// converts like in the other modes.
struct SlabItem {
  std::uint64_t file_index = 0;
  compression::ZstdTextSlab slab;
  bool end_of_file = false;
  std::string failure;
};

// One line of a parse batch, pointing into a slab or into an owned line the batch keeps alive.
struct ResolvedLine {
  std::string_view text;
  std::uint64_t line_number = 0;
};

// A numbered batch of lines of one file for the parse stage. Recycled through a pool, so
// clear() keeps the capacity of the line vector.
struct ParseItem {
  std::uint64_t file_index = 0;
  std::uint64_t batch_number = 0;
  std::vector<std::shared_ptr<const std::string>> slabs;
  std::deque<std::string> owned_lines;
  std::vector<ResolvedLine> lines;
  std::uint64_t total_bytes = 0;

  void clear() {
    file_index = 0;
    batch_number = 0;
    slabs.clear();
    owned_lines.clear();
    lines.clear();
    total_bytes = 0;
  }
};

// One shard's records of one parsed batch: a stretch of the batch's record buffer, which holds
// the records of every shard the batch fed, grouped by shard. The buffer goes away once every
// such shard's writer has taken its stretch.
struct ShardRun {
  std::shared_ptr<const std::vector<std::uint8_t>> records;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
};

// A block of one shard's raw records for the compress stage. The key is the first batch the
// block holds; only one block of a shard is in flight, so the key names it in the shard's slot
// even when a batch's records span two blocks. The frame goes at the end of `output`, the
// writer's buffer of frames not yet written.
struct CompressJob {
  std::uint64_t shard = 0;
  BatchKey key;
  std::vector<std::uint8_t> raw;
  std::vector<std::uint8_t> output;
};

// A compressed block handed back to its shard's writer: the writer's output buffer with the
// frame appended, and the raw buffer, which the writer reuses for its next block. The writer's
// buffers travel with the block, so no block allocates memory of its own.
struct CompressedBlock {
  std::vector<std::uint8_t> output;
  std::vector<std::uint8_t> raw;
};

}  // namespace boardmill::pipeline
