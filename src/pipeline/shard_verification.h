#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>

#include "util/result.h"

namespace boardmill::pipeline {

struct ShardVerificationSummary {
  std::uint64_t verified_files = 0;
  std::uint64_t verified_records = 0;
};

// What a running verification has done so far, for a status line that another thread reads;
// the verification adds to it a shard at a time.
struct VerificationProgress {
  // Set before the first shard is read; the byte total covers the shards up to the first
  // missing one, where verification would stop anyway.
  std::atomic<std::uint64_t> shards_total{0};
  std::atomic<std::uint64_t> bytes_total{0};  // compressed bytes of the shard files

  std::atomic<std::uint64_t> shards_verified{0};
  std::atomic<std::uint64_t> bytes_verified{0};
  std::atomic<std::uint64_t> records_verified{0};
};

// Checks every expected shard of a finished output directory: it exists, decompresses to whole
// records, and each record decodes, belongs to its shard and re-encodes to the same bytes. The
// first problem ends the check with a message naming the shard and the record's byte offset.
util::Result<ShardVerificationSummary> VerifyShards(const std::filesystem::path& directory,
                                                    std::uint64_t shard_count,
                                                    VerificationProgress* progress = nullptr);

}  // namespace boardmill::pipeline
