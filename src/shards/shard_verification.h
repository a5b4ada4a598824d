#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>

#include "util/result.h"

namespace boardmill::shards {

// The shard count verification assumes when neither the caller nor an index gives one: the
// shard count of a conversion.
inline constexpr std::uint64_t kDefaultVerifiedShardCount = 256;

struct ShardVerificationRequest {
  // Empty: the shard index's count, or kDefaultVerifiedShardCount without an index.
  std::optional<std::uint64_t> shard_count;
  // Sizes and hashes against the index only, without decompressing: the index must be there.
  bool quick = false;
};

struct ShardVerificationSummary {
  std::uint64_t verified_files = 0;
  std::uint64_t verified_records = 0;  // records decoded and checked; none in a quick check
  std::uint64_t indexed_records = 0;   // what the index lists for those files; 0 without one
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
// records, and each record decodes, belongs to its shard (as the index's routing places records;
// occupancy routing without an index) and re-encodes to the same bytes. When
// the directory holds shard-index.json, each shard's size and hash must also be the ones the run
// wrote, before it is decoded, and its record count the one listed. The first problem ends the
// check with one line naming the shard (and, for a record, its byte offset).
util::Result<ShardVerificationSummary> VerifyShards(const std::filesystem::path& directory,
                                                    const ShardVerificationRequest& request,
                                                    VerificationProgress* progress = nullptr);

inline util::Result<ShardVerificationSummary> VerifyShards(const std::filesystem::path& directory,
                                                           std::uint64_t shard_count) {
  return VerifyShards(directory, ShardVerificationRequest{.shard_count = shard_count});
}

}  // namespace boardmill::shards
