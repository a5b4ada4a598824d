#pragma once

#include <cstdint>

#include "pipeline/conversion_options.h"

namespace boardmill::testing {

// Asks for `workers` threads in each of the staged mode's reader, decompress, line-index, parse
// and compress pools; 0 leaves every pool's size to the staged runner.
inline void SetEveryStagePool(pipeline::ConversionOptions& options, std::uint64_t workers) {
  options.reader_workers = workers;
  options.decompress_workers = workers;
  options.line_index_workers = workers;
  options.parse_workers = workers;
  options.compress_workers = workers;
}

}  // namespace boardmill::testing
