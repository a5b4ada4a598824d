#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "pipeline/shard_presence_mask.h"
#include "pipeline/staged/stage_items.h"

namespace boardmill::pipeline {

// What a writer learns about the batch it waits for.
struct LedgerWaitResult {
  enum class Outcome { kParsed, kPastFileEnd, kAborted };
  Outcome outcome = Outcome::kAborted;
  ShardPresenceMask shards;  // valid when kParsed
  double waited_seconds = 0.0;
};

// Tells the shard writers, in input order, which line batches have been parsed and which shards
// each one fed, and how many batches each file has once the file is complete.
class BatchLedger {
 public:
  explicit BatchLedger(std::uint64_t file_count) : files_(file_count) {}
  BatchLedger(const BatchLedger&) = delete;
  BatchLedger& operator=(const BatchLedger&) = delete;

  void MarkParsed(BatchKey key, const ShardPresenceMask& shards);
  // Records that the file has `batch_count` batches in all (numbered 0 to batch_count - 1).
  void CompleteFile(std::uint64_t file_index, std::uint64_t batch_count);
  // Releases every waiter for good; used when the run fails.
  void Abort();

  // Waits until batch `key` is parsed, or its file is complete without it, or the ledger is
  // aborted.
  LedgerWaitResult WaitFor(BatchKey key);

 private:
  struct FileEntry {
    std::vector<ShardPresenceMask> batches;
    std::vector<bool> parsed;
    std::uint64_t batch_count = 0;
    bool complete = false;
  };

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<FileEntry> files_;
  bool aborted_ = false;
};

}  // namespace boardmill::pipeline
