#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>

#include "compression/zstd_file_decompressor.h"
#include "util/result.h"

namespace boardmill::compression {

// One line handed to a visitor: never empty, without its newline and without one trailing
// carriage return. The text is valid only during the visitor call that receives it.
struct ZstdLineBatchEntry {
  std::string_view text;
  std::uint64_t line_number = 0;  // 1-based among the delivered (non-empty) lines of the file
};

struct ZstdLineReadSummary {
  std::uint64_t line_count = 0;
  std::uint64_t compressed_bytes = 0;
  std::uint64_t decompressed_bytes = 0;
  double read_seconds = 0.0;
  double decompress_seconds = 0.0;
  double split_seconds = 0.0;
};

// What reading one file holds besides the batch: its compressed and decompressed buffers and a
// decompression context for windows of up to 8 MiB, which every standard level up to 19 keeps to.
std::uint64_t LineReaderMemoryBytes();

// The most lines one batch may hold: a reader reserves room for a whole batch up front, so a
// larger request would reserve more memory than a machine can give.
inline constexpr std::uint64_t kMaxLineBatchSize = std::uint64_t{1} << 24;

// Returns true to continue, false to stop reading (still a success), or an error to abort.
using ZstdLineBatchVisitor =
    std::function<util::Result<bool>(std::span<const ZstdLineBatchEntry> batch)>;

// Reads Zstandard-compressed text files as line batches (see VisitZstdLineBatches) through
// buffers and a decompression context that it keeps from one file to the next, so that a thread
// reading many small files sets them up once.
class ZstdLineReader {
 public:
  util::Result<ZstdLineReadSummary> Visit(const std::filesystem::path& path,
                                          std::uint64_t batch_size,
                                          const ZstdLineBatchVisitor& visitor);

 private:
  ZstdFileReader file_reader_;
};

// Streams a Zstandard-compressed text file through fixed 1 MiB buffers and hands its non-empty
// lines to `visitor` in batches of at most `batch_size` (0 and 1 both mean 1). A batch is
// delivered at least once per decompressed chunk, so batches may be smaller. Lines inside one
// chunk are not copied. A file whose last frame is cut short fails instead of ending quietly.
util::Result<ZstdLineReadSummary> VisitZstdLineBatches(const std::filesystem::path& path,
                                                       std::uint64_t batch_size,
                                                       const ZstdLineBatchVisitor& visitor);

}  // namespace boardmill::compression
