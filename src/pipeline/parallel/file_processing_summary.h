#pragma once

#include <cstdint>
#include <filesystem>

namespace boardmill::pipeline {

// What converting one input file in the parallel mode did: its counters, its timings and the
// knob values it was converted with. The manifest's file record is this structure field by
// field.
struct FileProcessingSummary {
  std::uint64_t file_index = 0;
  std::filesystem::path input_path;
  bool skipped = false;  // true only for the placeholder of a file skipped on resume
  std::uint64_t visited_lines = 0;
  std::uint64_t encoded_positions = 0;
  std::uint64_t invalid_positions = 0;
  std::uint64_t compressed_input_bytes = 0;
  std::uint64_t decompressed_input_bytes = 0;
  std::uint64_t raw_output_bytes = 0;
  std::uint64_t compressed_output_bytes = 0;
  double read_seconds = 0.0;
  double decompress_seconds = 0.0;
  double split_seconds = 0.0;
  double encode_seconds = 0.0;
  double compress_seconds = 0.0;
  double write_seconds = 0.0;
  std::uint64_t line_batch_size = 0;
  std::uint64_t records_per_flush = 0;
  std::int32_t compression_level = 0;
};

}  // namespace boardmill::pipeline
