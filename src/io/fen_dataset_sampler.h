#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "io/input_discovery.h"
#include "util/result.h"

namespace boardmill::io {

// What a running sample has done so far, for a status line that another thread reads; the
// sampler adds to it a file at a time.
struct SampleProgress {
  std::atomic<std::uint64_t> files_total{0};  // set once the input is listed
  std::atomic<std::uint64_t> files_done{0};
  std::atomic<std::uint64_t> copied_lines{0};
};

struct FenDatasetSamplerSettings {
  std::filesystem::path input_directory;
  std::filesystem::path output_directory;
  std::filesystem::path manifest_path;  // empty: sample-manifest.tsv in the output directory
  std::uint64_t max_input_files = 0;    // 0: all files
  std::uint64_t max_lines_per_file = 0;
  std::uint64_t line_batch_size = 4096;
  std::int32_t compression_level = 8;
  InputDiscovery discovery;            // the whole tree, .epd.zst files
  SampleProgress* progress = nullptr;  // null when nobody watches; not owned
};

struct FenDatasetSampleSummary {
  std::uint64_t input_file_count = 0;
  std::uint64_t output_file_count = 0;
  std::uint64_t copied_lines = 0;
  std::uint64_t compressed_input_bytes = 0;
  std::uint64_t decompressed_input_bytes = 0;
  std::uint64_t compressed_output_bytes = 0;
  double elapsed_seconds = 0.0;
  std::filesystem::path manifest_path;
};

// Copies the first lines of every input file into a file of the same name in the output
// directory (at the same path below it, for a tree), and lists each file in sample-manifest.tsv.
class FenDatasetSampler {
 public:
  explicit FenDatasetSampler(FenDatasetSamplerSettings settings) : settings_(std::move(settings)) {}

  util::Result<FenDatasetSampleSummary> Run() const;

 private:
  FenDatasetSamplerSettings settings_;
};

}  // namespace boardmill::io
