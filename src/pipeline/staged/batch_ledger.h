#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "pipeline/shard_presence_mask.h"
#include "pipeline/staged/stage_items.h"

namespace boardmill::pipeline {

// What a writer learns when it asks for the batches after its cursor.
struct LedgerWaitResult {
  enum class Outcome {
    kSettled,   // more batches settled; the cursor moves on
    kFinished,  // every batch of every file has settled and the cursor is past the last one
    kAborted,
  };
  Outcome outcome = Outcome::kAborted;
  std::uint64_t next_cursor = 0;
  double waited_seconds = 0.0;
};

// What a reader learns when it asks to hand on more input.
struct ReadRoomWait {
  bool aborted = false;
  double waited_seconds = 0.0;
};

// The order in which the shard writers take the parsed batches, and how much of their output
// waits for them.
//
// Batches settle in input order: (file, batch) settles once it is parsed and every batch before
// it has settled, and a file is passed once it is complete and all its batches have settled.
// Settled batches form one sequence; a writer's cursor is its position in it. Writers are woken
// only when `announce_bytes` of records have settled since the last wake-up, or when the whole
// input has settled, so that a run of many small batches does not wake every writer per batch.
//
// A batch's record bytes are counted from its parse until every writer it fed has taken its
// records and the batch's buffer is gone. A reader may hand on more input while they stay within
// the record budget. Beyond it, only the reader of the file the settled sequence waits for goes
// on, and only while the settled records (which the writers can take without further input) stay
// within half the budget: readers of later files cannot hold back the file everything waits for,
// and the writers, told of every settled stretch of an eighth of the budget, make room without
// more input.
class BatchLedger {
 public:
  // `walker_count`: the writers that follow the sequence (shards 0 to walker_count - 1).
  BatchLedger(std::uint64_t file_count, std::uint64_t walker_count,
              std::uint64_t record_budget_bytes, std::uint64_t announce_bytes);
  BatchLedger(const BatchLedger&) = delete;
  BatchLedger& operator=(const BatchLedger&) = delete;

  // Parse threads, after depositing the batch's `record_bytes` of records for `shards`. True
  // when this completes its file: the file's batch count is known and all its batches parsed.
  bool MarkParsed(BatchKey key, const ShardPresenceMask& shards, std::uint64_t record_bytes);
  // Line-index threads: the file has `batch_count` batches (0 to batch_count - 1). True when
  // they are all parsed already.
  bool CompleteFile(std::uint64_t file_index, std::uint64_t batch_count);
  // Releases every waiter for good; used when the run fails.
  void Abort();

  // Writer of `shard`: waits until batches after `cursor` (0 at the start) have been announced,
  // the whole input has settled, or the ledger is aborted, and appends the keys of the announced
  // batches that fed `shard` to `fed`, in input order.
  LedgerWaitResult WaitForSettled(std::uint64_t shard, std::uint64_t cursor,
                                  std::vector<BatchKey>& fed);
  // The record buffer of a batch, `bytes` long, is gone: every writer it fed has taken its part.
  void ReleaseRecords(std::uint64_t bytes);

  // Reader of `file_index`: waits until it may hand on more input (see above).
  ReadRoomWait WaitForReadRoom(std::uint64_t file_index);

  // Bytes of the record buffers of parsed batches that are still alive.
  std::uint64_t WaitingRecordBytes() const {
    return waiting_record_bytes_.load(std::memory_order_acquire);
  }

 private:
  struct FileEntry {
    std::uint64_t parsed_batches = 0;
    std::uint64_t batch_count = 0;
    bool complete = false;
  };
  struct ParsedBatch {
    ShardPresenceMask shards;
    std::uint64_t record_bytes = 0;
  };
  struct SettledBatch {
    BatchKey key;
    ShardPresenceMask shards;
  };

  // Under the lock: settles what can settle, announces when due, wakes whom it concerns.
  void Advance();
  bool AllSettled() const { return frontier_.file_index >= files_.size(); }
  std::uint64_t SettledEnd() const { return settled_base_ + settled_.size(); }
  bool MayRead(std::uint64_t file_index) const;
  // Drops settled batches every writer has passed.
  void Prune();

  const std::uint64_t record_budget_bytes_;
  const std::uint64_t announce_bytes_;

  mutable std::mutex mutex_;
  std::condition_variable announced_;
  std::condition_variable room_;
  std::vector<FileEntry> files_;
  // Parsed batches that have not settled yet, because an earlier one is still being parsed.
  std::map<BatchKey, ParsedBatch> waiting_to_settle_;
  std::uint64_t unsettled_record_bytes_ = 0;
  // The first batch that has not settled.
  BatchKey frontier_;
  // Settled batches from sequence number settled_base_ on.
  std::deque<SettledBatch> settled_;
  std::uint64_t settled_base_ = 0;
  std::uint64_t announced_end_ = 0;
  std::uint64_t unannounced_record_bytes_ = 0;
  std::vector<std::uint64_t> cursors_;
  bool aborted_ = false;

  std::atomic<std::uint64_t> waiting_record_bytes_{0};
  std::atomic<std::uint64_t> readers_waiting_{0};
};

}  // namespace boardmill::pipeline
