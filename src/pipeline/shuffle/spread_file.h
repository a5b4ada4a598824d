#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "compression/zstd_context.h"
#include "pipeline/shuffle/input_shard_reader.h"
#include "pipeline/shuffle/shuffle_entry.h"
#include "util/partial_file.h"
#include "util/result.h"
#include "util/unique_descriptor.h"

namespace boardmill::shuffle {

// More entries than any block is written with, so that a damaged footer cannot ask for more.
inline constexpr std::uint64_t kMostBlockEntries = std::uint64_t{1} << 24;

// Where a spread file holds some entries of one output shard: a Zstandard frame of whole
// entries.
struct SpreadBlock {
  std::uint64_t shard = 0;
  std::uint64_t offset = 0;
  std::uint64_t bytes = 0;
  std::uint64_t entries = 0;
};

// What a spread file's footer tells: its blocks in the order written, and what reading its input
// shard found.
struct SpreadFooter {
  std::vector<SpreadBlock> blocks;
  InputShardDigest input;
};

// One spread file per input shard, "input-000042.spread" after the shard's place in input order,
// so a resumed run knows which shards are spread by the files alone.
std::string SpreadFileName(std::uint64_t input_sequence);

// Writes one input shard's entries as blocks, each compressed at a fast level, then a footer
// listing them. The file stays under its ".partial" name until Commit, so that a spread file
// under its own name is always whole.
class SpreadFileWriter {
 public:
  explicit SpreadFileWriter(std::int32_t level);

  util::Result<void> Open(const std::filesystem::path& path);
  util::Result<void> AppendBlock(std::uint64_t shard, std::span<const ShuffleEntry> entries);
  // Writes the footer and gives the file its name; the value is the file's size.
  util::Result<std::uint64_t> Commit(const InputShardDigest& input);

 private:
  util::Result<void> WriteBytes(const void* data, std::size_t size);

  std::int32_t level_;
  compression::ZstdCompressionContext context_;
  std::vector<std::uint8_t> compressed_;
  std::filesystem::path path_;
  util::PartialFile file_;
  std::vector<SpreadBlock> blocks_;
  std::uint64_t offset_ = 0;
};

util::Result<SpreadFooter> ReadSpreadFooter(const std::filesystem::path& path);

// Reads the entries of `block` from the spread file at `path` into `entries` (resized), through
// `compressed` as a buffer; a block that does not decompress into its entries fails.
class SpreadBlockReader {
 public:
  SpreadBlockReader();

  util::Result<void> Read(const std::filesystem::path& path, const SpreadBlock& block,
                          std::vector<ShuffleEntry>& entries);

 private:
  compression::ZstdDecompressionContext context_;
  std::vector<std::uint8_t> compressed_;
  std::filesystem::path open_path_;
  util::UniqueDescriptor file_;
};

}  // namespace boardmill::shuffle
