#pragma once

#include <cstdint>
#include <filesystem>

#include "util/result.h"

namespace boardmill::pipeline {

struct ShardVerificationSummary {
  std::uint64_t verified_files = 0;
  std::uint64_t verified_records = 0;
};

// Checks every expected shard of a finished output directory: it exists, decompresses to whole
// records, and each record decodes, belongs to its shard and re-encodes to the same bytes. The
// first problem ends the check with a message naming the shard and the record's byte offset.
util::Result<ShardVerificationSummary> VerifyShards(const std::filesystem::path& directory,
                                                    std::uint64_t shard_count);

}  // namespace boardmill::pipeline
