#include "pipeline/parallel/group_exchange_messages.h"

namespace boardmill::pipeline {

RankMessageKind KindOf(const std::vector<std::uint8_t>& bytes) {
  return RankMessageReader(bytes).Kind();
}

std::vector<std::uint8_t> RequestMessage::Encode() const {
  return RankMessageWriter(RankMessageKind::kRequest).Take();
}

util::Result<RequestMessage> RequestMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  return DecodedWhole(RankMessageReader(bytes), RankMessageKind::kRequest, RequestMessage{});
}

std::vector<std::uint8_t> AssignMessage::Encode() const {
  if (!group) return RankMessageWriter(RankMessageKind::kNoMore).Take();
  return RankMessageWriter(RankMessageKind::kAssign).Group(*group).Number(backlog).Take();
}

util::Result<AssignMessage> AssignMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  RankMessageReader reader(bytes);
  if (reader.Kind() == RankMessageKind::kNoMore) {
    return DecodedWhole(reader, RankMessageKind::kNoMore, AssignMessage{});
  }
  AssignMessage message;
  message.group = reader.Group();
  message.backlog = reader.Number();
  return DecodedWhole(reader, RankMessageKind::kAssign, message);
}

std::vector<std::uint8_t> CompletedMessage::Encode() const {
  return RankMessageWriter(RankMessageKind::kCompleted).Group(group).Take();
}

util::Result<CompletedMessage> CompletedMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  RankMessageReader reader(bytes);
  const FileGroup group = reader.Group();
  return DecodedWhole(reader, RankMessageKind::kCompleted, CompletedMessage{group});
}

std::vector<std::uint8_t> TuningMessage::Encode() const {
  return RankMessageWriter(RankMessageKind::kTuning)
      .Real(decision.elapsed_seconds)
      .Number(decision.knobs.active_workers)
      .Number(decision.knobs.line_batch_size)
      .Number(decision.knobs.records_per_flush)
      .Number(static_cast<std::uint64_t>(decision.knobs.compression_level))
      .Real(decision.throughput)
      .Text(decision.reason)
      .Take();
}

util::Result<TuningMessage> TuningMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  RankMessageReader reader(bytes);
  TuningMessage message;
  message.decision.elapsed_seconds = reader.Real();
  message.decision.knobs.active_workers = reader.Number();
  message.decision.knobs.line_batch_size = reader.Number();
  message.decision.knobs.records_per_flush = reader.Number();
  message.decision.knobs.compression_level = static_cast<std::int32_t>(reader.Number());
  message.decision.throughput = reader.Real();
  message.decision.reason = reader.Text();
  return DecodedWhole(reader, RankMessageKind::kTuning, std::move(message));
}

std::vector<std::uint8_t> FailedMessage::Encode() const {
  return RankMessageWriter(RankMessageKind::kFailed).Text(message).Take();
}

util::Result<FailedMessage> FailedMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  RankMessageReader reader(bytes);
  FailedMessage decoded{reader.Text()};
  return DecodedWhole(reader, RankMessageKind::kFailed, std::move(decoded));
}

std::vector<std::uint8_t> FinishedMessage::Encode() const {
  return RankMessageWriter(RankMessageKind::kFinished).Number(active_workers).Take();
}

util::Result<FinishedMessage> FinishedMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  RankMessageReader reader(bytes);
  const std::uint64_t active_workers = reader.Number();
  return DecodedWhole(reader, RankMessageKind::kFinished, FinishedMessage{active_workers});
}

}  // namespace boardmill::pipeline
