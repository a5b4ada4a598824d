#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "compression/zstd_frame_compressor.h"
#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/file_processing_summary.h"
#include "util/partial_file.h"
#include "util/result.h"

namespace boardmill::pipeline {

// A fragment file holds what one parallel task produced from a run of consecutive input files:
// Zstandard frames of shard records back to back, one index entry per frame, one entry per input
// file, and a fixed footer. Every number is a 64-bit little-endian word (doubles by their bits):
//   frames
//   per frame: shard, offset, size, records
//   per file: its totals in kTotalsFields order, line_batch_size, records_per_flush,
//             compression_level, name length, name bytes (the path below the input directory)
//   footer: first_file, file_count, reject_rows, frame_count, frames_index_offset,
//           files_index_offset, "BMFRAG02"
// A shard's frames appear in the order of its records, so the merge appends them to the shard as
// they come. The file is written under a ".partial" name and renamed when complete, so a fragment
// that exists is whole: its files are converted even if a kill took the manifest records that
// were to follow, and a resumed run recovers those records from the file entries. The names let
// a resumed run check that each fragment still belongs to the files now at its indices.
struct FragmentFrame {
  std::uint64_t shard = 0;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  std::uint64_t records = 0;
};

struct FragmentIndex {
  std::uint64_t first_file = 0;
  std::uint64_t reject_rows = 0;  // rows of the task's reject part
  std::vector<FragmentFrame> frames;
  // One per file, in file order: the file's summary, with `input_path` holding the task's file's
  // path below the input directory.
  std::vector<FileProcessingSummary> files;
};

inline constexpr char kFragmentSuffix[] = ".fragment";
inline constexpr char kRejectPartSuffix[] = ".rejects";

// A group's scratch files, named after its first and last file index, zero-padded to six digits:
// <root>/files-000012-000040.fragment, and its reject part beside it, files-000012-000040.rejects.
std::filesystem::path FragmentPath(const std::filesystem::path& root, const FileGroup& group);
std::filesystem::path RejectPartPath(const std::filesystem::path& fragment_path);

// Writes one fragment file.
class FragmentFileWriter {
 public:
  // Starts `path` + ".partial", replacing a leftover of an interrupted attempt.
  util::Result<void> Open(const std::filesystem::path& path);

  // Compresses the pages of one shard as one frame and appends it.
  util::Result<void> AppendFrame(std::uint64_t shard, std::uint64_t records,
                                 std::span<const std::span<const std::uint8_t>> pages,
                                 std::int32_t level, compression::ZstdFrameCompressor& compressor);

  // Writes the index, the files' summaries and the footer, closes the file and renames it into
  // place. `files` are the task's files in order, starting at `first_file`, each named by its
  // path below `input_directory`.
  util::Result<void> Commit(std::uint64_t first_file, std::span<const FileProcessingSummary> files,
                            std::uint64_t reject_rows,
                            const std::filesystem::path& input_directory);

  std::uint64_t frame_bytes() const { return offset_; }
  double write_seconds() const { return write_seconds_; }

 private:
  util::Result<void> Write(std::span<const std::uint8_t> bytes);
  util::Error WriteFailure() const;

  std::filesystem::path path_;
  util::PartialFile file_;
  std::uint64_t offset_ = 0;
  std::vector<FragmentFrame> frames_;
  double write_seconds_ = 0.0;
};

// Reads a fragment's footer and index, checking that they describe the file they end.
util::Result<FragmentIndex> ReadFragmentIndex(const std::filesystem::path& path);

}  // namespace boardmill::pipeline
