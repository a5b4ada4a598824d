#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "compression/zstd_frame_compressor.h"
#include "compression/zstd_line_reader.h"
#include "pipeline/conversion_options.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/file_processing_summary.h"
#include "pipeline/shard_record_buffer.h"
#include "pipeline/parallel/worker_knobs.h"
#include "shards/shard_router.h"
#include "util/result.h"

namespace boardmill::pipeline {

// What a worker keeps from one task to the next: its reader's buffers and decompression
// context, its compression context and its record pages.
struct WorkerResources {
  WorkerResources(std::uint64_t shard_count, std::uint64_t record_budget_bytes)
      : records(shard_count, record_budget_bytes) {}

  compression::ZstdLineReader reader;
  compression::ZstdFrameCompressor compressor;
  ShardRecordBuffer records;
};

// One task of the parallel mode: a group of consecutive input files.
struct FileGroupTask {
  FileGroup group;
  const std::vector<std::filesystem::path>& files;  // every input file, by index
  std::filesystem::path fragments_root;
  WorkerKnobs knobs;
};

// Converts the task's files into one fragment file and one reject part in `fragments_root`,
// named after the group (FragmentPath), and returns one summary per file, in file order. Each
// shard's records become one frame per task, or several when the record budget runs out first.
// A file's compressed bytes and compress and write seconds are its share of the task's, in
// proportion to its raw bytes, so that they add up to the task's.
util::Result<std::vector<FileProcessingSummary>> ConvertFileGroup(const FileGroupTask& task,
                                                                  const ConversionOptions& options,
                                                                  const shards::ShardRouter& router,
                                                                  WorkerResources& resources);

}  // namespace boardmill::pipeline
