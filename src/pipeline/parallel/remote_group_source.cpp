#include "pipeline/parallel/remote_group_source.h"

#include "pipeline/parallel/group_exchange_messages.h"

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

void RemoteGroupSource::Completed(const FileGroup& group,
                                  const std::vector<FileProcessingSummary>& /*files*/) {
  const std::lock_guard lock(mutex_);
  outbox_.push_back(CompletedMessage{group}.Encode());
  changed_.notify_all();
}

void RemoteGroupSource::Tuned(const TuningDecision& decision) {
  const std::lock_guard lock(mutex_);
  outbox_.push_back(TuningMessage{decision}.Encode());
  changed_.notify_all();
}

void RemoteGroupSource::Failed(const std::string& message) {
  const std::lock_guard lock(mutex_);
  FailLocked(message);
}

void RemoteGroupSource::FailLocked(const std::string& message) {
  failed_.store(true);
  outbox_.push_back(FailedMessage{message}.Encode());
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
      RequestGroup(job, lock);
      continue;
    }
    changed_.wait(lock);
  }
}

void RemoteGroupSource::RequestGroup(const io::MpiJob& job, std::unique_lock<std::mutex>& lock) {
  lock.unlock();
  job.Send(0, kToCoordinatorTag, RequestMessage{}.Encode());
  int source = 0;
  const std::vector<std::uint8_t> reply = job.Receive(0, kToRankTag, source);
  const util::Result<AssignMessage> answer = AssignMessage::Decode(reply);
  lock.lock();
  if (answer && answer->group) {
    ready_.push_back(*answer->group);
    backlog_.store(answer->backlog);
  } else {
    no_more_ = true;
    backlog_.store(0);
    if (!answer) FailLocked(answer.error());
  }
  changed_.notify_all();
}

void RemoteGroupSource::Finish(const io::MpiJob& job, std::uint64_t active_workers) {
  std::unique_lock lock(mutex_);
  SendReports(job, lock);
  lock.unlock();
  job.Send(0, kToCoordinatorTag, FinishedMessage{active_workers}.Encode());
}

}  // namespace boardmill::pipeline
