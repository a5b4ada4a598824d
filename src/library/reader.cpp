#include "library/reader.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "chess/packed_sfen.h"

namespace boardmill::library {

namespace {

constexpr std::size_t kRecordSize = chess::kPackedSfenSize;

util::Result<void> CheckSplit(const boardmill_reader_options& options) {
  if (options.world == 0 || options.rank >= options.world) {
    return util::Fail("Reader rank " + std::to_string(options.rank) + " is not below world " +
                      std::to_string(options.world) + ".");
  }
  if (options.workers == 0 || options.worker >= options.workers) {
    return util::Fail("Reader worker " + std::to_string(options.worker) + " is not below workers " +
                      std::to_string(options.workers) + ".");
  }
  return {};
}

// The shard ids of this reader's share, in id order.
std::vector<std::size_t> ShareOf(std::size_t shard_count, const boardmill_reader_options& options) {
  std::vector<std::size_t> share;
  std::size_t rank_shards = 0;  // shards of this rank seen so far
  for (std::size_t id = options.rank; id < shard_count; id += options.world, ++rank_shards) {
    if (rank_shards % options.workers == options.worker) share.push_back(id);
  }
  return share;
}

}  // namespace

util::Result<std::unique_ptr<Reader>> Reader::Open(const Dataset& dataset,
                                                   const boardmill_reader_options& options) {
  util::Result<void> checked = CheckSplit(options);
  if (!checked) return std::move(checked).TakeError();
  std::vector<std::size_t> shards = ShareOf(dataset.shards().size(), options);
  ShuffleRandom random(MixSeed({options.seed, options.epoch, options.rank, options.worker}));
  if (options.shuffle_buffer != 0) random.Shuffle(shards);
  return std::unique_ptr<Reader>(
      new Reader(dataset, std::move(shards), options.shuffle_buffer, random));
}

Reader::Reader(const Dataset& dataset, std::vector<std::size_t> shards,
               std::uint64_t shuffle_buffer, ShuffleRandom random)
    : dataset_(dataset),
      shards_(std::move(shards)),
      shuffle_capacity_(shuffle_buffer),
      random_(random) {}

util::Result<std::size_t> Reader::Next(std::uint8_t* records, std::size_t max_records) {
  if (failure_) return util::Fail(*failure_);
  util::Result<std::size_t> copied = shuffle_capacity_ == 0 ? CopyStored(records, max_records)
                                                            : DrawShuffled(records, max_records);
  if (!copied) failure_ = copied.error();
  return copied;
}

util::Result<bool> Reader::LoadNextShard() {
  shard_offset_ = 0;
  shard_.records.clear();
  if (next_shard_ == shards_.size()) return false;
  util::Result<void> loaded =
      ReadShardRecords(dataset_.shards()[shards_[next_shard_++]], dataset_.verify(), shard_);
  if (!loaded) return std::move(loaded).TakeError();  // the reader is spent: nothing reads shard_
  return true;
}

util::Result<bool> Reader::HaveShardRecords() {
  while (shard_offset_ == shard_.records.size()) {
    util::Result<bool> loaded = LoadNextShard();
    if (!loaded || !*loaded) return loaded;
  }
  return true;
}

util::Result<const std::uint8_t*> Reader::NextStoredRecord() {
  const util::Result<bool> more = HaveShardRecords();
  if (!more) return util::Fail(more.error());
  if (!*more) return nullptr;
  const std::uint8_t* record = shard_.records.data() + shard_offset_;
  shard_offset_ += kRecordSize;
  return record;
}

util::Result<std::size_t> Reader::CopyStored(std::uint8_t* records, std::size_t max_records) {
  std::size_t copied = 0;
  while (copied < max_records) {
    const util::Result<bool> more = HaveShardRecords();
    if (!more) return util::Fail(more.error());
    if (!*more) break;
    // As many as fit from the shard in one copy.
    const std::size_t run =
        std::min(max_records - copied, (shard_.records.size() - shard_offset_) / kRecordSize);
    std::memcpy(records + copied * kRecordSize, shard_.records.data() + shard_offset_,
                run * kRecordSize);
    shard_offset_ += run * kRecordSize;
    copied += run;
  }
  return copied;
}

util::Result<std::size_t> Reader::DrawShuffled(std::uint8_t* records, std::size_t max_records) {
  std::size_t copied = 0;
  while (copied < max_records) {
    // Top the buffer up; the buffer grows as records come, so a large capacity costs memory
    // only as far as the share has records.
    while (shuffle_buffer_.size() / kRecordSize < shuffle_capacity_) {
      const util::Result<const std::uint8_t*> incoming = NextStoredRecord();
      if (!incoming) return util::Fail(incoming.error());
      if (*incoming == nullptr) break;
      shuffle_buffer_.insert(shuffle_buffer_.end(), *incoming, *incoming + kRecordSize);
    }
    const std::size_t held = shuffle_buffer_.size() / kRecordSize;
    if (held == 0) break;
    std::uint8_t* drawn = shuffle_buffer_.data() + random_.Below(held) * kRecordSize;
    std::memcpy(records + copied * kRecordSize, drawn, kRecordSize);
    ++copied;
    // The last record fills the hole.
    std::memmove(drawn, shuffle_buffer_.data() + (held - 1) * kRecordSize, kRecordSize);
    shuffle_buffer_.resize((held - 1) * kRecordSize);
  }
  return copied;
}

}  // namespace boardmill::library
