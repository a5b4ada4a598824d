#include "pipeline/parallel/run_phase_messages.h"

#include <string>

#include "pipeline/parallel/rank_message.h"

namespace boardmill::pipeline {

namespace {

RankMessageWriter OutcomeWriter(RankMessageKind kind, const util::Result<void>& outcome) {
  RankMessageWriter writer(kind);
  writer.Number(outcome ? 1 : 0).Text(outcome ? std::string() : outcome.error());
  return writer;
}

// The outcome a message of `kind` starts with.
util::Result<void> ReadOutcome(RankMessageReader& reader, RankMessageKind kind) {
  if (reader.Kind() != kind) return util::Fail(kDamagedRankMessage);
  const bool ok = reader.Number() == 1;
  std::string message = reader.Text();
  if (reader.damaged()) return util::Fail(kDamagedRankMessage);
  if (!ok) return util::Fail(std::move(message));
  return {};
}

// Reads a message of `kind`: its outcome and, after a success, the body `read_body` fills in.
// A message with bytes missing or left over fails.
template <typename Message, typename ReadBody>
util::Result<Message> DecodeAfterOutcome(const std::vector<std::uint8_t>& bytes,
                                         RankMessageKind kind, ReadBody read_body) {
  RankMessageReader reader(bytes);
  util::Result<void> outcome = ReadOutcome(reader, kind);
  if (!outcome) return std::move(outcome).TakeError();
  Message message;
  read_body(reader, message);
  return DecodedWhole(reader, kind, std::move(message));
}

}  // namespace

std::vector<std::uint8_t> StartMessage::Encode() const {
  RankMessageWriter writer = OutcomeWriter(RankMessageKind::kStart, outcome);
  writer.Text(marks.token).Number(marks.files.size());
  for (const std::filesystem::path& file : marks.files) writer.Text(file.native());
  writer.Number(files.size());
  for (const std::filesystem::path& file : files) writer.Text(file.native());
  return writer.Take();
}

util::Result<StartMessage> StartMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  return DecodeAfterOutcome<StartMessage>(
      bytes, RankMessageKind::kStart, [](RankMessageReader& reader, StartMessage& message) {
        message.marks.token = reader.Text();
        for (std::uint64_t count = reader.Number(); count > 0 && !reader.damaged(); --count) {
          message.marks.files.emplace_back(reader.Text());
        }
        for (std::uint64_t count = reader.Number(); count > 0 && !reader.damaged(); --count) {
          message.files.emplace_back(reader.Text());
        }
      });
}

std::vector<std::uint8_t> ReadyMessage::Encode() const {
  RankMessageWriter writer = OutcomeWriter(RankMessageKind::kReady, outcome);
  writer.Number(caps.requested_worker_cap)
      .Number(caps.effective_max_workers)
      .Number(caps.stdio_worker_cap)
      .Number(caps.memory_worker_cap);
  return writer.Take();
}

util::Result<ReadyMessage> ReadyMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  return DecodeAfterOutcome<ReadyMessage>(bytes, RankMessageKind::kReady,
                                          [](RankMessageReader& reader, ReadyMessage& message) {
                                            message.caps.requested_worker_cap = reader.Number();
                                            message.caps.effective_max_workers = reader.Number();
                                            message.caps.stdio_worker_cap = reader.Number();
                                            message.caps.memory_worker_cap = reader.Number();
                                          });
}

std::vector<std::uint8_t> GoMessage::Encode() const {
  return OutcomeWriter(RankMessageKind::kGo, outcome).Take();
}

util::Result<GoMessage> GoMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  return DecodeAfterOutcome<GoMessage>(bytes, RankMessageKind::kGo,
                                       [](RankMessageReader&, GoMessage&) {});
}

std::vector<std::uint8_t> ConvertedMessage::Encode() const {
  RankMessageWriter writer = OutcomeWriter(RankMessageKind::kConverted, outcome);
  writer.Number(groups.size());
  for (const FileGroup& group : groups) writer.Group(group);
  return writer.Take();
}

util::Result<ConvertedMessage> ConvertedMessage::Decode(const std::vector<std::uint8_t>& bytes) {
  return DecodeAfterOutcome<ConvertedMessage>(
      bytes, RankMessageKind::kConverted, [](RankMessageReader& reader, ConvertedMessage& message) {
        for (std::uint64_t count = reader.Number(); count > 0 && !reader.damaged(); --count) {
          message.groups.push_back(reader.Group());
        }
      });
}

std::vector<std::uint8_t> MergedMessage::Encode() const {
  RankMessageWriter writer = OutcomeWriter(RankMessageKind::kMerged, outcome);
  writer.Number(output_files).Number(merged_bytes).Real(write_seconds);
  for (const shards::IndexedShard& shard : shards) {
    writer.Number(shard.records).Number(shard.bytes).Number(shard.xxh64);
  }
  return writer.Take();
}

util::Result<MergedMessage> MergedMessage::Decode(const std::vector<std::uint8_t>& bytes,
                                                  std::uint64_t shard_count) {
  return DecodeAfterOutcome<MergedMessage>(
      bytes, RankMessageKind::kMerged, [&](RankMessageReader& reader, MergedMessage& message) {
        message.output_files = reader.Number();
        message.merged_bytes = reader.Number();
        message.write_seconds = reader.Real();
        for (std::uint64_t shard = 0; shard < shard_count && !reader.damaged(); ++shard) {
          shards::IndexedShard& indexed = message.shards.emplace_back();
          indexed.records = reader.Number();
          indexed.bytes = reader.Number();
          indexed.xxh64 = reader.Number();
        }
      });
}

}  // namespace boardmill::pipeline
