#pragma once

#include <compare>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
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

// A slab of decompressed text on its way to the line-index thread of its file, or the marker
// that ends the file (no slab).
struct SlabItem {
  std::uint64_t file_index = 0;
  compression::ZstdTextSlab slab;
  bool end_of_file = false;
};

// One line of a parse batch, pointing into a slab or into an owned line the batch keeps alive.
struct ResolvedLine {
  const char* text = nullptr;
  std::uint64_t length = 0;
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

// A block of one shard's raw records for the compress stage. The key is the first batch the
// block holds.
struct CompressJob {
  std::uint64_t shard = 0;
  BatchKey key;
  std::vector<std::uint8_t> raw;
  std::uint64_t record_count = 0;
};

// A compressed block handed back to its shard's writer, together with the raw buffer, which the
// writer reuses for its next block.
struct CompressedBlock {
  std::vector<std::uint8_t> frame;
  std::vector<std::uint8_t> raw;
  std::uint64_t record_count = 0;
  double compress_seconds = 0.0;
};

}  // namespace boardmill::pipeline
