#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "pipeline/parallel/file_group.h"
#include "pipeline/parallel/rank_handshake.h"
#include "pipeline/parallel/worker_plan.h"
#include "shards/shard_index.h"
#include "util/result.h"

namespace boardmill::pipeline {

// The messages that take every rank of an MPI job from one phase of a parallel run to the next.
// Each starts with an outcome: success, or the one line of a failure, which ends the run on every
// rank. Encode writes a message whole; Decode gives the failure it carries, or the damaged-message
// failure when the bytes are short, too long or of another kind.

// Broadcast by rank 0 once it has prepared the directories: the marks every rank checks, and the
// input files.
struct StartMessage {
  util::Result<void> outcome;
  SharedDirectoryMarks marks;
  std::vector<std::filesystem::path> files;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<StartMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// A rank to rank 0: it sees the shared directories and its workers fit, with their caps.
struct ReadyMessage {
  util::Result<void> outcome;
  RankCaps caps;  // without the final active workers, known only at the end

  std::vector<std::uint8_t> Encode() const;
  static util::Result<ReadyMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// Broadcast by rank 0: every rank is ready and the run is prepared, or one is not.
struct GoMessage {
  util::Result<void> outcome;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<GoMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// Broadcast by rank 0 once every group is converted: all groups, kept and new, in file order.
struct ConvertedMessage {
  util::Result<void> outcome;
  std::vector<FileGroup> groups;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<ConvertedMessage> Decode(const std::vector<std::uint8_t>& bytes);
};

// A rank to rank 0 once it has merged its shards: its tallies and, for the shard index, what each
// of its shards holds, in shard id order. The shards run to the end of the message; the receiver
// knows how many the rank merges and refuses any other count.
struct MergedMessage {
  util::Result<void> outcome;
  std::uint64_t output_files = 0;
  std::uint64_t merged_bytes = 0;
  double write_seconds = 0.0;
  std::vector<shards::IndexedShard> shards;

  std::vector<std::uint8_t> Encode() const;
  static util::Result<MergedMessage> Decode(const std::vector<std::uint8_t>& bytes,
                                            std::uint64_t shard_count);
};

}  // namespace boardmill::pipeline
