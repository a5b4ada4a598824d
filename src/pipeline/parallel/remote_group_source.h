#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "io/mpi_job.h"
#include "pipeline/parallel/group_report.h"
#include "pipeline/parallel/group_source.h"

namespace boardmill::pipeline {

// The group source, and the report, of a rank other than 0 in an MPI job. Its workers ask it for
// groups; the rank's main thread, in Serve, asks rank 0 for one group each time a worker waits
// with none in hand, so that a slow rank takes fewer, and passes on what the workers and the
// autotuner report. Only the main thread talks to MPI.
class RemoteGroupSource : public GroupSource, public GroupReport {
 public:
  // `most_groups`: as many groups as the run can have (its file count), the backlog until rank 0
  // first says how many it still holds.
  explicit RemoteGroupSource(std::uint64_t most_groups) : backlog_(most_groups) {}

  std::optional<FileGroup> Next() override;
  // The groups rank 0 had not handed out when it last answered this rank.
  std::uint64_t Backlog() const override { return backlog_.load(); }

  // Rank 0 reads the files' summaries from the group's fragment.
  void Completed(const FileGroup& group, const std::vector<FileProcessingSummary>& files) override;
  void Tuned(const TuningDecision& decision) override;
  // A failed rank takes no more groups.
  void Failed(const std::string& message) override;
  bool failed() const override { return failed_.load(); }
  void WorkerEnded() override;

  // Runs on the main thread until `workers` workers have ended and every report is sent.
  void Serve(const io::MpiJob& job, std::uint64_t workers);
  // Once the autotuner has stopped too: sends what is left and tells rank 0 this rank has
  // finished, with its final active worker count.
  void Finish(const io::MpiJob& job, std::uint64_t active_workers);

 private:
  // Sends the queued reports; the lock is released while sending.
  void SendReports(const io::MpiJob& job, std::unique_lock<std::mutex>& lock);
  // Asks rank 0 for a group; the lock is released while waiting for the answer.
  void RequestGroup(const io::MpiJob& job, std::unique_lock<std::mutex>& lock);
  void FailLocked(const std::string& message);

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<FileGroup> ready_;
  std::deque<std::vector<std::uint8_t>> outbox_;
  std::uint64_t waiting_workers_ = 0;
  std::uint64_t ended_workers_ = 0;
  bool no_more_ = false;
  std::atomic<std::uint64_t> backlog_;
  std::atomic<bool> failed_{false};
};

}  // namespace boardmill::pipeline
