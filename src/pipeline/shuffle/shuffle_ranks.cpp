#include "pipeline/shuffle/shuffle_ranks.h"

#include <string>

#include "io/mpi_job.h"

namespace boardmill::shuffle {

namespace {

// Apart from convert's tags, so that a stray message of one never passes for the other's.
constexpr int kOutcomeTag = 21;
constexpr int kShardsTag = 22;

void AppendWord(std::vector<std::uint8_t>& bytes, std::uint64_t word) {
  for (unsigned i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
}

std::uint64_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  std::uint64_t word = 0;
  for (unsigned i = 0; i < 8 && at + i < bytes.size(); ++i) {
    word |= static_cast<std::uint64_t>(bytes[at + i]) << (8 * i);
  }
  return word;
}

// An outcome as bytes: empty for success, the message otherwise (never empty).
std::vector<std::uint8_t> EncodeOutcome(const util::Result<void>& outcome) {
  if (outcome) return {};
  const std::string& message = outcome.error();
  return {message.begin(), message.end()};
}

util::Result<void> DecodeOutcome(const std::vector<std::uint8_t>& bytes) {
  if (bytes.empty()) return {};
  return util::Fail(std::string(bytes.begin(), bytes.end()));
}

}  // namespace

ShuffleRanks::ShuffleRanks(const io::MpiJob* job) : job_(job) {
  if (job_ == nullptr) return;
  rank_ = static_cast<std::uint64_t>(job_->rank());
  size_ = static_cast<std::uint64_t>(job_->size());
}

util::Result<void> ShuffleRanks::Agree(util::Result<void> outcome) const {
  if (size_ == 1) return outcome;
  std::vector<std::uint8_t> agreed;
  if (IsFirst()) {
    std::vector<std::vector<std::uint8_t>> outcomes(size_);
    outcomes[0] = EncodeOutcome(outcome);
    for (std::uint64_t received = 1; received < size_; ++received) {
      int source = 0;
      std::vector<std::uint8_t> bytes = job_->Receive(io::MpiJob::kAnySource, kOutcomeTag, source);
      outcomes[static_cast<std::uint64_t>(source)] = std::move(bytes);
    }
    for (const std::vector<std::uint8_t>& bytes : outcomes) {
      if (!bytes.empty()) {
        agreed = bytes;
        break;
      }
    }
  } else {
    job_->Send(0, kOutcomeTag, EncodeOutcome(outcome));
  }
  job_->Broadcast(agreed, 0);
  return DecodeOutcome(agreed);
}

std::uint64_t ShuffleRanks::CollectShards(std::span<const std::uint64_t> finished_here,
                                          std::uint64_t passes,
                                          std::vector<shards::IndexedShard>& shards) const {
  if (size_ == 1) return passes;
  if (!IsFirst()) {
    std::vector<std::uint8_t> bytes;
    AppendWord(bytes, passes);
    for (const std::uint64_t id : finished_here) {
      AppendWord(bytes, id);
      AppendWord(bytes, shards[id].records);
      AppendWord(bytes, shards[id].bytes);
      AppendWord(bytes, shards[id].xxh64);
    }
    job_->Send(0, kShardsTag, bytes);
    return passes;
  }
  for (std::uint64_t received = 1; received < size_; ++received) {
    int source = 0;
    const std::vector<std::uint8_t> bytes =
        job_->Receive(io::MpiJob::kAnySource, kShardsTag, source);
    passes += WordAt(bytes, 0);
    for (std::size_t at = 8; at + 32 <= bytes.size(); at += 32) {
      const std::uint64_t id = WordAt(bytes, at);
      if (id < shards.size()) {
        shards[id] = {WordAt(bytes, at + 8), WordAt(bytes, at + 16), WordAt(bytes, at + 24)};
      }
    }
  }
  return passes;
}

}  // namespace boardmill::shuffle
