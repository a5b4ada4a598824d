#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "compression/zstd_context.h"
#include "pipeline/shuffle/input_shards.h"
#include "util/result.h"

namespace boardmill::shuffle {

// Takes the next whole records of a shard, in stored order, as their bytes.
using RecordBytesVisitor = std::function<util::Result<void>(std::span<const std::uint8_t> records)>;

// What reading one input shard found: its records and its stored bytes with their XXH64.
struct InputShardDigest {
  std::uint64_t records = 0;
  std::uint64_t bytes = 0;
  std::uint64_t xxh64 = 0;
};

// Reads input shards as they are stored, through fixed buffers kept from one shard to the next:
// the stored bytes are hashed as they pass and the content is handed on a buffer at a time. A
// shard its index describes must match it in size, hash and records, checked at its end, so a
// caller keeps nothing it took from a shard until Read succeeded.
class InputShardReader {
 public:
  static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

  InputShardReader();

  util::Result<InputShardDigest> Read(const InputShard& shard, const RecordBytesVisitor& visit);

  // Called with the stored bytes read so far, for a progress count.
  std::function<void(std::uint64_t bytes)> on_bytes_read;

 private:
  util::Result<InputShardDigest> Stream(const InputShard& shard, int descriptor,
                                        const RecordBytesVisitor& visit);

  compression::ZstdDecompressionContext context_;
  std::unique_ptr<std::uint8_t[]> stored_;
  std::unique_ptr<std::uint8_t[]> content_;
};

}  // namespace boardmill::shuffle
