#include "pipeline/staged/batch_ledger.h"

#include "util/stopwatch.h"

namespace boardmill::pipeline {

void BatchLedger::MarkParsed(BatchKey key, const ShardPresenceMask& shards) {
  {
    const std::lock_guard lock(mutex_);
    FileEntry& file = files_.at(key.file_index);
    if (file.batches.size() <= key.batch_number) {
      file.batches.resize(key.batch_number + 1);
      file.parsed.resize(key.batch_number + 1);
    }
    file.batches[key.batch_number] = shards;
    file.parsed[key.batch_number] = true;
  }
  changed_.notify_all();
}

void BatchLedger::CompleteFile(std::uint64_t file_index, std::uint64_t batch_count) {
  {
    const std::lock_guard lock(mutex_);
    FileEntry& file = files_.at(file_index);
    file.batch_count = batch_count;
    file.complete = true;
  }
  changed_.notify_all();
}

void BatchLedger::Abort() {
  {
    const std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  changed_.notify_all();
}

LedgerWaitResult BatchLedger::WaitFor(BatchKey key) {
  using Outcome = LedgerWaitResult::Outcome;
  const util::Stopwatch wait;
  LedgerWaitResult result;
  std::unique_lock lock(mutex_);
  const FileEntry& file = files_.at(key.file_index);
  const auto parsed = [&] {
    return key.batch_number < file.parsed.size() && file.parsed[key.batch_number];
  };
  const auto past_end = [&] { return file.complete && key.batch_number >= file.batch_count; };
  changed_.wait(lock, [&] { return aborted_ || parsed() || past_end(); });
  if (aborted_) {
    result.outcome = Outcome::kAborted;
  } else if (parsed()) {
    result.outcome = Outcome::kParsed;
    result.shards = file.batches[key.batch_number];
  } else {
    result.outcome = Outcome::kPastFileEnd;
  }
  result.waited_seconds = wait.ElapsedSeconds();
  return result;
}

}  // namespace boardmill::pipeline
