#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/parallel/file_group.h"
#include "util/result.h"

namespace boardmill::pipeline {

// What the ranks of a parallel run across an MPI job tell each other. Every message starts with
// its kind; numbers follow as 64-bit little-endian words, doubles by their bits, texts as a
// length and bytes.
enum class RankMessageKind : std::uint8_t {
  // Broadcast by rank 0.
  kStart = 1,      // ok, message, then the input files (count, paths)
  kGo = 2,         // ok, message: every rank is ready (or one is not)
  kConverted = 3,  // ok, message, then the groups in file order (count, first, file count ...)
  // To rank 0.
  kReady = 10,      // ok, message
  kRequest = 11,    // a worker wants a group
  kCompleted = 12,  // first file, file count: a group's fragment is complete
  kTuning = 13,     // a tuning decision of the rank's autotuner
  kFailed = 14,     // message
  kFinished = 15,   // the rank's workers have ended
  kMerged = 16,     // ok, message, output files, merged bytes, write seconds
  // To a rank.
  kAssign = 20,  // group, groups rank 0 has not yet handed out
  kNoMore = 21,
};

// Message tags: to rank 0, and to the other ranks.
inline constexpr int kToCoordinatorTag = 1;
inline constexpr int kToRankTag = 2;

class RankMessageWriter {
 public:
  explicit RankMessageWriter(RankMessageKind kind) {
    bytes_.push_back(static_cast<std::uint8_t>(kind));
  }

  RankMessageWriter& Number(std::uint64_t value);
  RankMessageWriter& Real(double value);
  RankMessageWriter& Text(std::string_view text);
  RankMessageWriter& Group(const FileGroup& group);
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// The one line a receiver fails with when a message is cut short, too long or of another kind.
inline constexpr char kDamagedRankMessage[] = "A rank of the MPI job sent a damaged message.";

// Reads a message in the order it was written. A read past the end gives 0 or "" and marks the
// message damaged, which a receiver treats as a failed job.
class RankMessageReader {
 public:
  explicit RankMessageReader(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}

  RankMessageKind Kind() const;
  std::uint64_t Number();
  double Real();
  std::string Text();
  FileGroup Group();
  bool damaged() const { return damaged_; }
  // A message of `kind`, every byte of it read and none missing.
  bool ReadWhole(RankMessageKind kind) const {
    return Kind() == kind && !damaged_ && at_ == bytes_.size();
  }

 private:
  bool Take(std::size_t size);

  const std::vector<std::uint8_t>& bytes_;
  std::size_t at_ = 1;
  bool damaged_ = false;
};

// `message`, decoded by `reader` from a whole message of `kind`; else the damaged-message failure.
template <typename Message>
util::Result<Message> DecodedWhole(const RankMessageReader& reader, RankMessageKind kind,
                                   Message message) {
  if (!reader.ReadWhole(kind)) return util::Fail(kDamagedRankMessage);
  return message;
}

}  // namespace boardmill::pipeline
