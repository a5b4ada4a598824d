#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/rank_message.h"
#include "pipeline/parallel/tuning_decision.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The messages of the conversion phase of a parallel run across an MPI job: a rank's main thread
// asks rank 0 for groups and passes on what its workers and its autotuner report. Encode writes a
// message whole; Decode refuses bytes that are short, too long or of another kind with the
// damaged-message failure.

// The kind of a message, to tell which of these it is; 0 for no bytes.
RankMessageKind KindOf(const std::vector<std::uint8_t>& bytes);

// A worker of the rank waits with no group in hand.
struct RequestMessage {
  std::vector<std::uint8_t> Encode() const;
  static util::Result<RequestMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// Rank 0's answer: a group and how many it has not yet handed out, or no group (none is left).
struct AssignMessage {
  std::optional<FileGroup> group;
  std::uint64_t backlog = 0;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<AssignMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// A group's fragment is complete on the shared scratch directory.
struct CompletedMessage {
  FileGroup group;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<CompletedMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// A decision of the rank's autotuner, for rank 0's manifest.
struct TuningMessage {
  TuningDecision decision;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<TuningMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// The rank failed; the run fails with this line.
struct FailedMessage {
  std::string message;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<FailedMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// The rank's workers have ended, and how many were active at the end.
struct FinishedMessage {
  std::uint64_t active_workers = 0;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<FinishedMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

}  // namespace boardmill::pipeline
