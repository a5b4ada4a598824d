#include "pipeline/parallel/worker_stage_stats.h"

#include <cstdint>

namespace boardmill::pipeline {

namespace {

void AddBatch(StageStats& stage, std::uint64_t items_in, std::uint64_t items_out,
              std::uint64_t bytes_in, std::uint64_t bytes_out, double seconds) {
  stage.AddItemsIn(items_in);
  stage.AddItemsOut(items_out);
  stage.AddBytesIn(bytes_in);
  stage.AddBytesOut(bytes_out);
  stage.AddBusySeconds(seconds);
  stage.AddBatches(1);
}

}  // namespace

void WorkerStageStats::AddFile(const FileProcessingSummary& file) {
  AddBatch(read, file.visited_lines, file.visited_lines, file.compressed_input_bytes,
           file.compressed_input_bytes, file.read_seconds);
  AddBatch(decompress, file.visited_lines, file.visited_lines, file.compressed_input_bytes,
           file.decompressed_input_bytes, file.decompress_seconds);
  AddBatch(encode, file.visited_lines, file.encoded_positions, file.decompressed_input_bytes,
           file.raw_output_bytes, file.encode_seconds);
  AddBatch(compress, file.encoded_positions, file.encoded_positions, file.raw_output_bytes,
           file.compressed_output_bytes, file.compress_seconds);
  AddBatch(write, file.encoded_positions, file.encoded_positions, file.compressed_output_bytes,
           file.compressed_output_bytes, file.write_seconds);
}

}  // namespace boardmill::pipeline
