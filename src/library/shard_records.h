#pragma once

#include <cstdint>
#include <vector>

#include "library/dataset.h"
#include "util/result.h"

namespace boardmill::library {

// The decompressed records of one shard file. Refuses anything but a regular file (a FIFO or a
// device would block or never end), a payload that is not whole records, a record count other
// than the index lists and, when `verify` is set, stored bytes whose size or XXH64 differ from
// the index.
util::Result<std::vector<std::uint8_t>> ReadShardRecords(const DatasetShard& shard, bool verify);

}  // namespace boardmill::library
