#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "pipeline/parallel/file_group.h"

namespace boardmill::pipeline {

// Where a parallel worker takes its next group of files from.
class GroupSource {
 public:
  virtual ~GroupSource() = default;
  // The next group, or nothing when there is none left (or the run stopped handing them out).
  virtual std::optional<FileGroup> Next() = 0;
  // Groups not yet handed out, as far as this process knows; the autotuner's backlog.
  virtual std::uint64_t Backlog() const = 0;
};

// The groups of a run, handed out in file order to whoever asks first: the workers of this
// process and, across an MPI job, the other ranks through rank 0.
class GroupDispenser : public GroupSource {
 public:
  explicit GroupDispenser(std::vector<FileGroup> groups) : groups_(std::move(groups)) {}

  std::optional<FileGroup> Next() override {
    const std::size_t index = next_.fetch_add(1);
    if (index >= groups_.size()) return std::nullopt;
    return groups_[index];
  }
  std::uint64_t Backlog() const override {
    const std::size_t next = next_.load();
    return next >= groups_.size() ? 0 : groups_.size() - next;
  }
  // Hands out nothing more: a failed run stops taking new groups.
  void Stop() { next_.store(groups_.size()); }

 private:
  const std::vector<FileGroup> groups_;
  std::atomic<std::size_t> next_{0};
};

}  // namespace boardmill::pipeline
