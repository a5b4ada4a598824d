#include "shards/shard_verification.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include "chess/packed_sfen_codec.h"
#include "compression/zstd_file_decompressor.h"
#include "shards/shard_index.h"
#include "shards/shard_index_reader.h"
#include "shards/shard_naming.h"
#include "shards/shard_routing.h"
#include "util/byte_digest.h"

namespace boardmill::shards {

namespace {

util::Result<void> VerifyRecord(const ShardRouting& routing, std::uint64_t shard_id,
                                const std::filesystem::path& path, const chess::PackedSfen& record,
                                std::uint64_t offset) {
  // Messages are built only on failure: verification visits every record of every shard.
  const auto where = [offset] { return " at record offset " + std::to_string(offset); };
  const auto shard = [&] { return std::to_string(shard_id) + " in " + path.string(); };

  const util::Result<chess::Position> position = chess::DecodePackedSfen(record);
  if (!position) {
    return util::Fail("Decode failed for shard " + shard() + where() + ": " + position.error());
  }
  if (!routing.Admits(*position, shard_id)) {
    return util::Fail("Shard routing mismatch in " + path.string() + where() + ".");
  }
  const util::Result<chess::PackedSfen> encoded = chess::EncodePackedSfen(*position);
  if (!encoded) {
    return util::Fail("Re-encode failed for shard " + shard() + where() + ": " + encoded.error());
  }
  if (*encoded != record) {
    return util::Fail("PackedSfen round-trip mismatch in " + path.string() + where() + ".");
  }
  return {};
}

// Checks the records of one shard as it inflates, one record at a time, so that memory stays the
// same whatever a file inflates to (a few KiB of zeros can inflate to gigabytes).
class ShardRecordChecker {
 public:
  ShardRecordChecker(const ShardRouting& routing, std::uint64_t shard_id,
                     const std::filesystem::path& path)
      : routing_(routing), shard_id_(shard_id), path_(path) {}

  util::Result<bool> Take(std::span<const std::uint8_t> chunk) {
    while (!chunk.empty()) {
      const std::size_t take = std::min(record_.bytes.size() - filled_, chunk.size());
      std::memcpy(record_.bytes.data() + filled_, chunk.data(), take);
      filled_ += take;
      chunk = chunk.subspan(take);
      if (filled_ < record_.bytes.size()) break;
      filled_ = 0;
      const util::Result<void> verified =
          VerifyRecord(routing_, shard_id_, path_, record_, records_ * chess::kPackedSfenSize);
      if (!verified) {
        record_failed_ = true;
        return util::Fail(verified.error());
      }
      ++records_;
    }
    return true;
  }

  std::uint64_t records() const { return records_; }
  bool ends_inside_record() const { return filled_ != 0; }
  bool record_failed() const { return record_failed_; }

 private:
  const ShardRouting& routing_;
  const std::uint64_t shard_id_;
  const std::filesystem::path& path_;
  chess::PackedSfen record_;
  std::size_t filled_ = 0;
  std::uint64_t records_ = 0;
  bool record_failed_ = false;
};

util::Result<void> CheckShardExists(const std::filesystem::path& path) {
  std::error_code error;
  const bool exists = std::filesystem::exists(path, error);
  if (error)
    return util::Fail("Failed to check shard file " + path.string() + ": " + error.message());
  if (!exists) return util::Fail("Missing shard file: " + path.string());
  return {};
}

// The records of one shard file, each checked. A failure to read the file names it; a record's
// failure already does.
util::Result<std::uint64_t> VerifyShardRecords(const ShardRouting& routing, std::uint64_t shard_id,
                                               const std::filesystem::path& path) {
  ShardRecordChecker checker(routing, shard_id, path);
  util::Result<void> read = compression::VisitZstdFileChunks(
      path, [&checker](std::span<const std::uint8_t> chunk) { return checker.Take(chunk); },
      "shard file");
  if (!read && !checker.record_failed()) {
    return util::Fail("Failed to read shard file " + path.string() + ": " + read.error());
  }
  if (!read) return std::move(read).TakeError();
  if (checker.ends_inside_record()) {
    return util::Fail("Shard payload is not a whole number of PackedSfen records: " +
                      path.string());
  }
  return checker.records();
}

// The size of a shard file, or nothing for one that is missing or cannot be queried.
std::optional<std::uint64_t> ShardFileSize(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return std::nullopt;
  return size;
}

// Stops at the first shard without a size: verification ends there, so a huge shard count that
// names no files costs no more here than it does in the verification itself.
void SetProgressTotals(std::uint64_t shard_count, const std::filesystem::path& directory,
                       VerificationProgress& progress) {
  std::uint64_t bytes = 0;
  for (std::uint64_t id = 0; id < shard_count; ++id) {
    const std::optional<std::uint64_t> size = ShardFileSize(ShardPath(directory, id, shard_count));
    if (!size) break;
    bytes += *size;
  }
  progress.bytes_total.store(bytes, std::memory_order_relaxed);
  progress.shards_total.store(shard_count, std::memory_order_relaxed);
}

void AddVerifiedShard(const std::filesystem::path& path, std::uint64_t records,
                      VerificationProgress& progress) {
  progress.bytes_verified.fetch_add(ShardFileSize(path).value_or(0), std::memory_order_relaxed);
  progress.records_verified.fetch_add(records, std::memory_order_relaxed);
  progress.shards_verified.fetch_add(1, std::memory_order_relaxed);
}

// The file's bytes are the ones the run wrote: the same length and hash.
util::Result<void> CheckStoredBytes(const std::filesystem::path& path, const IndexedShard& listed) {
  util::Result<util::ByteDigest> stored = util::DigestFile(path, "shard file");
  if (!stored) return std::move(stored).TakeError();
  return CheckStoredShard(path, *stored, listed);
}

util::Result<void> CheckRecordCount(const std::filesystem::path& path, std::uint64_t records,
                                    const IndexedShard& listed) {
  if (records == listed.records) return {};
  return util::Fail("Shard record count differs from the shard index: " + path.string() +
                    " holds " + std::to_string(records) + " records, the index lists " +
                    std::to_string(listed.records) + ".");
}

// The number of shard files with ids 0, 1, ... present under the names of `shard_count` shards,
// up to the first one missing.
std::uint64_t LeadingShardFiles(const std::filesystem::path& directory, std::uint64_t shard_count) {
  std::uint64_t present = 0;
  std::error_code error;
  while (present < shard_count &&
         std::filesystem::exists(ShardPath(directory, present, shard_count), error)) {
    ++present;
  }
  return present;
}

std::uint64_t ShardNamedFileCount(const std::filesystem::path& directory) {
  std::uint64_t count = 0;
  std::error_code error;
  for (std::filesystem::directory_iterator entry(directory, error), end; !error && entry != end;
       entry.increment(error)) {
    if (ParseShardFileName(entry->path().filename().string())) ++count;
  }
  return count;
}

// Without an index the shard count is the caller's guess. When the directory holds exactly the
// first few shards of that count, it was written with fewer shards: say so, rather than let its
// records show up as routing mismatches against the wrong count.
util::Result<void> CheckShardCountAgainstFiles(const std::filesystem::path& directory,
                                               std::uint64_t shard_count) {
  const std::uint64_t present = LeadingShardFiles(directory, shard_count);
  if (present == shard_count || present == 0 || ShardNamedFileCount(directory) != present) {
    return {};
  }
  return util::Fail("Shard count " + std::to_string(shard_count) + " does not match the " +
                    std::to_string(present) + " shard files in " + directory.string() +
                    " (no shard index; give --shards " + std::to_string(present) + ").");
}

// The routing the index names; without an index, the routing of a conversion over the requested
// count.
util::Result<ShardRouting> ResolveRouting(const std::filesystem::path& directory,
                                          const ShardVerificationRequest& request,
                                          const std::optional<ShardIndex>& index) {
  if (!index) {
    return ShardRouting{.kind = RoutingKind::kOccupancy,
                        .shard_count = request.shard_count.value_or(kDefaultVerifiedShardCount)};
  }
  const std::uint64_t listed = index->shards.size();
  if (request.shard_count && *request.shard_count != listed) {
    return util::Fail("Shard count " + std::to_string(*request.shard_count) + " differs from the " +
                      std::to_string(listed) +
                      " shards of the shard index: " + (directory / kShardIndexFileName).string());
  }
  return index->Routing();
}

// One shard: present, as written (with an index), and, unless quick, every record sound. Its
// records: those decoded, or in a quick check those the index lists.
util::Result<std::uint64_t> VerifyShard(const ShardRouting& routing, std::uint64_t id,
                                        const std::filesystem::path& path,
                                        const IndexedShard* listed, bool quick,
                                        ShardVerificationSummary& summary) {
  util::Result<void> checked = CheckShardExists(path);
  if (checked && listed != nullptr) checked = CheckStoredBytes(path, *listed);
  if (!checked) return std::move(checked).TakeError();
  if (listed != nullptr) summary.indexed_records += listed->records;
  if (quick) return listed->records;  // a quick check has an index
  util::Result<std::uint64_t> records = VerifyShardRecords(routing, id, path);
  if (!records) return records;
  if (listed != nullptr) checked = CheckRecordCount(path, *records, *listed);
  if (!checked) return std::move(checked).TakeError();
  summary.verified_records += *records;
  return records;
}

}  // namespace

util::Result<ShardVerificationSummary> VerifyShards(const std::filesystem::path& directory,
                                                    const ShardVerificationRequest& request,
                                                    VerificationProgress* progress) {
  if (request.shard_count == 0) return util::Fail("Output shard count must be at least 1.");
  util::Result<std::optional<ShardIndex>> index = LoadShardIndex(directory);
  if (!index) return std::move(index).TakeError();
  if (request.quick && !*index) {
    return util::Fail("Quick verification needs a shard index, and there is none: " +
                      (directory / kShardIndexFileName).string());
  }
  const util::Result<ShardRouting> routing = ResolveRouting(directory, request, *index);
  if (!routing) return util::Fail(routing.error());
  if (!*index) {
    util::Result<void> matched = CheckShardCountAgainstFiles(directory, routing->shard_count);
    if (!matched) return std::move(matched).TakeError();
  }

  const std::uint64_t shard_count = routing->shard_count;
  if (progress != nullptr) SetProgressTotals(shard_count, directory, *progress);
  ShardVerificationSummary summary;
  for (std::uint64_t id = 0; id < shard_count; ++id) {
    const std::filesystem::path path = ShardPath(directory, id, shard_count);
    const IndexedShard* listed = *index ? &(*index)->shards[id] : nullptr;
    util::Result<std::uint64_t> records =
        VerifyShard(*routing, id, path, listed, request.quick, summary);
    if (!records) return std::move(records).TakeError();
    if (progress != nullptr) AddVerifiedShard(path, *records, *progress);
  }
  summary.verified_files = shard_count;
  return summary;
}

}  // namespace boardmill::shards
