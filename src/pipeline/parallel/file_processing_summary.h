#pragma once

#include <cstdint>
#include <filesystem>

#include "pipeline/conversion_summary.h"
#include "pipeline/parallel/input_stamp.h"

namespace boardmill::pipeline {

// What converting one input file in the parallel mode did: its counters, its timings and the
// knob values it was converted with, and the stamp its input had when the run started. The
// manifest's file record is this structure field by field.
struct FileProcessingSummary : ConversionTotals {
  std::uint64_t file_index = 0;
  std::filesystem::path input_path;
  bool skipped = false;  // true only for the placeholder of a file skipped on resume
  std::uint64_t line_batch_size = 0;
  std::uint64_t records_per_flush = 0;
  std::int32_t compression_level = 0;
  InputStamp stamp;
};

}  // namespace boardmill::pipeline
