#include "pipeline/parallel/remote_group_source.h"

#include "pipeline/parallel/rank_message.h"

namespace boardmill::pipeline {

std::optional<FileGroup> RemoteGroupSource::Next() {
  std::unique_lock lock(mutex_);
  ++waiting_workers_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !ready_.empty() || no_more_; });
  --waiting_workers_;
  if (ready_.empty()) return std::nullopt;
  const FileGroup group = ready_.front();
  ready_.pop_front();
  return group;
}

void RemoteGroupSource::Completed(const FileGroup& group) {
  const std::lock_guard lock(mutex_);
  outbox_.push_back(RankMessageWriter(RankMessageKind::kCompleted).Group(group).Take());
  changed_.notify_all();
}

void RemoteGroupSource::Tuned(const TuningDecision& decision) {
  const std::lock_guard lock(mutex_);
  outbox_.push_back(RankMessageWriter(RankMessageKind::kTuning)
                        .Real(decision.elapsed_seconds)
                        .Number(decision.active_workers)
                        .Number(decision.line_batch_size)
                        .Number(decision.records_per_flush)
                        .Number(static_cast<std::uint64_t>(decision.compression_level))
                        .Real(decision.throughput)
                        .Text(decision.reason)
                        .Take());
  changed_.notify_all();
}

void RemoteGroupSource::Failed(const std::string& message) {
  const std::lock_guard lock(mutex_);
  outbox_.push_back(RankMessageWriter(RankMessageKind::kFailed).Text(message).Take());
  // A failed rank takes no more groups.
  no_more_ = true;
  changed_.notify_all();
}

void RemoteGroupSource::WorkerEnded() {
  const std::lock_guard lock(mutex_);
  ++ended_workers_;
  changed_.notify_all();
}

void RemoteGroupSource::SendReports(const io::MpiJob& job, std::unique_lock<std::mutex>& lock) {
  while (!outbox_.empty()) {
    const std::vector<std::uint8_t> message = std::move(outbox_.front());
    outbox_.pop_front();
    lock.unlock();
    job.Send(0, kToCoordinatorTag, message);
    lock.lock();
  }
}

void RemoteGroupSource::Serve(const io::MpiJob& job, std::uint64_t workers) {
  std::unique_lock lock(mutex_);
  for (;;) {
    SendReports(job, lock);
    if (ended_workers_ == workers) return;
    if (!no_more_ && waiting_workers_ > ready_.size()) {
      lock.unlock();
      job.Send(0, kToCoordinatorTag, RankMessageWriter(RankMessageKind::kRequest).Take());
      int source = 0;
      const std::vector<std::uint8_t> reply = job.Receive(0, kToRankTag, source);
      RankMessageReader reader(reply);
      lock.lock();
      if (reader.Kind() == RankMessageKind::kAssign) {
        ready_.push_back(reader.Group());
        backlog_.store(reader.Number());
      } else {
        no_more_ = true;
        backlog_.store(0);
      }
      changed_.notify_all();
      continue;
    }
    changed_.wait(lock);
  }
}

void RemoteGroupSource::Finish(const io::MpiJob& job, std::uint64_t active_workers) {
  std::unique_lock lock(mutex_);
  SendReports(job, lock);
  lock.unlock();
  job.Send(0, kToCoordinatorTag,
           RankMessageWriter(RankMessageKind::kFinished).Number(active_workers).Take());
}

}  // namespace boardmill::pipeline
