#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace boardmill::pipeline {

// Where one line of a batch lies: in one of the batch's slabs, or in one of its owned lines.
struct TextLineReference {
  // Index into the batch's slabs, or into its owned lines when `owned` is set.
  std::uint64_t index = 0;
  bool owned = false;
  // Byte offset of the line in its slab; 0 for owned lines.
  std::uint64_t offset = 0;
  // Without the line feed and without a trailing carriage return.
  std::uint64_t length = 0;
  // 1-based among the file's delivered (non-empty) lines.
  std::uint64_t line_number = 0;
};

// A batch of consecutive lines of one file. Lines that lie inside one slab are not copied: the
// batch shares the slab. Lines that straddle slabs are assembled into owned strings.
struct TextLineBatch {
  // Every slab that holds at least one of the lines, in order of first use.
  std::vector<std::shared_ptr<const std::string>> slabs;
  std::deque<std::string> owned_lines;
  // In line order.
  std::vector<TextLineReference> references;
  // The sum of the reference lengths.
  std::uint64_t total_bytes = 0;
};

}  // namespace boardmill::pipeline
