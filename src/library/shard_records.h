#pragma once

#include <cstdint>
#include <vector>

#include "compression/zstd_context.h"
#include "library/dataset.h"
#include "util/result.h"
#include "util/uninitialized_bytes.h"

namespace boardmill::library {

// The memory one shard is read with: its stored bytes, and the records inflated from them. Kept
// from shard to shard, so that reading the next one reuses pages already mapped instead of
// faulting in fresh ones.
struct ShardBuffers {
  util::UninitializedBytes stored;
  util::UninitializedBytes records;
  compression::ZstdDecompressionContext context;  // made by the first read
};

// Reads one shard file into `buffers`, its decompressed records into `buffers.records`. Refuses
// anything but a regular file (a FIFO or a device would block or never end), a payload that is
// not whole records, a record count other than the index lists and, when `verify` is set, stored
// bytes whose size or XXH64 differ from the index. After a failure the buffers hold nothing to
// be used.
util::Result<void> ReadShardRecords(const DatasetShard& shard, bool verify, ShardBuffers& buffers);

}  // namespace boardmill::library
