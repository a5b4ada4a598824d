#include "pipeline/staged/batch_ledger.h"

#include <algorithm>

#include "util/stopwatch.h"

namespace boardmill::pipeline {

BatchLedger::BatchLedger(std::uint64_t file_count, std::uint64_t walker_count,
                         std::uint64_t record_budget_bytes, std::uint64_t announce_bytes)
    : record_budget_bytes_(record_budget_bytes),
      announce_bytes_(announce_bytes),
      files_(file_count),
      cursors_(walker_count) {}

bool BatchLedger::MarkParsed(BatchKey key, const ShardPresenceMask& shards,
                             std::uint64_t record_bytes) {
  const std::lock_guard lock(mutex_);
  FileEntry& file = files_.at(key.file_index);
  ++file.parsed_batches;
  waiting_record_bytes_.fetch_add(record_bytes);
  unsettled_record_bytes_ += record_bytes;
  waiting_to_settle_.emplace(key, ParsedBatch{shards, record_bytes});
  Advance();
  return file.complete && file.parsed_batches == file.batch_count;
}

bool BatchLedger::CompleteFile(std::uint64_t file_index, std::uint64_t batch_count) {
  const std::lock_guard lock(mutex_);
  FileEntry& file = files_.at(file_index);
  file.batch_count = batch_count;
  file.complete = true;
  Advance();
  return file.parsed_batches == batch_count;
}

void BatchLedger::Abort() {
  {
    const std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  announced_.notify_all();
  room_.notify_all();
}

void BatchLedger::Advance() {
  const BatchKey before = frontier_;
  while (!AllSettled()) {
    const auto next = waiting_to_settle_.begin();
    if (next != waiting_to_settle_.end() && next->first == frontier_) {
      settled_.push_back(SettledBatch{frontier_, next->second.shards});
      unsettled_record_bytes_ -= next->second.record_bytes;
      unannounced_record_bytes_ += next->second.record_bytes;
      waiting_to_settle_.erase(next);
      ++frontier_.batch_number;
      continue;
    }
    const FileEntry& file = files_[frontier_.file_index];
    if (!file.complete || frontier_.batch_number < file.batch_count) break;
    frontier_ = BatchKey{frontier_.file_index + 1, 0};
  }
  if (frontier_ == before) return;
  if (AllSettled() || unannounced_record_bytes_ >= announce_bytes_) {
    announced_end_ = SettledEnd();
    unannounced_record_bytes_ = 0;
    announced_.notify_all();
  }
  // Fewer unsettled records, or another file everything waits for: a reader may go on.
  if (readers_waiting_.load() > 0) room_.notify_all();
}

LedgerWaitResult BatchLedger::WaitForSettled(std::uint64_t shard, std::uint64_t cursor,
                                             std::vector<BatchKey>& fed) {
  using Outcome = LedgerWaitResult::Outcome;
  const util::Stopwatch wait;
  LedgerWaitResult result;
  std::unique_lock lock(mutex_);
  announced_.wait(lock, [&] { return aborted_ || announced_end_ > cursor || AllSettled(); });
  result.waited_seconds = wait.ElapsedSeconds();
  if (aborted_) return result;
  for (std::uint64_t position = cursor; position < announced_end_; ++position) {
    const SettledBatch& batch = settled_[position - settled_base_];
    if (batch.shards.Contains(shard)) fed.push_back(batch.key);
  }
  result.next_cursor = std::max(cursor, announced_end_);
  if (shard < cursors_.size()) {
    cursors_[shard] = result.next_cursor;
    Prune();
  }
  result.outcome =
      AllSettled() && result.next_cursor == SettledEnd() ? Outcome::kFinished : Outcome::kSettled;
  return result;
}

void BatchLedger::Prune() {
  const std::uint64_t slowest = *std::min_element(cursors_.begin(), cursors_.end());
  while (settled_base_ < slowest) {
    settled_.pop_front();
    ++settled_base_;
  }
}

void BatchLedger::ReleaseRecords(std::uint64_t bytes) {
  waiting_record_bytes_.fetch_sub(bytes);
  if (readers_waiting_.load() == 0) return;
  { const std::lock_guard lock(mutex_); }
  room_.notify_all();
}

bool BatchLedger::MayRead(std::uint64_t file_index) const {
  const std::uint64_t waiting = waiting_record_bytes_.load();
  if (waiting <= record_budget_bytes_) return true;
  if (file_index != frontier_.file_index) return false;
  const std::uint64_t settled = waiting - std::min(waiting, unsettled_record_bytes_);
  return settled <= record_budget_bytes_ / 2;
}

ReadRoomWait BatchLedger::WaitForReadRoom(std::uint64_t file_index) {
  ReadRoomWait result;
  if (waiting_record_bytes_.load() <= record_budget_bytes_) return result;
  const util::Stopwatch wait;
  std::unique_lock lock(mutex_);
  // Announced before the condition is read, so that a writer releasing records after that read
  // sees a waiting reader and wakes it.
  readers_waiting_.fetch_add(1);
  room_.wait(lock, [&] { return aborted_ || MayRead(file_index); });
  readers_waiting_.fetch_sub(1);
  result.aborted = aborted_;
  result.waited_seconds = wait.ElapsedSeconds();
  return result;
}

}  // namespace boardmill::pipeline
