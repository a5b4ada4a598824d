#include "pipeline/parallel/run_phase_messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "damaged_rank_message.h"

namespace boardmill::pipeline {
namespace {

namespace fs = std::filesystem;

StartMessage SampleStart() {
  StartMessage start;
  start.marks = {{"/out/.boardmill-shared-check", "/scratch/.boardmill-shared-check"}, "17-42"};
  start.files = {"/in/a.fen.zst", "/in/b\tc.fen.zst", "/in/\xc3\xa9.fen.zst"};
  return start;
}

MergedMessage SampleMerged() {
  MergedMessage merged;
  merged.output_files = 2;
  merged.merged_bytes = 1 << 20;
  merged.write_seconds = 0.125;
  merged.shards = {{10, 300, 0xfedcba9876543210ULL}, {0, 0, 0xef46db3751d8e999ULL}};
  return merged;
}

TEST(RunPhaseMessagesTest, EachMessageReadsBackWhatWasWritten) {
  const StartMessage start = SampleStart();
  const util::Result<StartMessage> started = StartMessage::Decode(start.Encode());
  ASSERT_TRUE(started) << started.error();
  EXPECT_EQ(started->marks.token, start.marks.token);
  EXPECT_EQ(started->marks.files, start.marks.files);
  EXPECT_EQ(started->files, start.files);

  const util::Result<ReadyMessage> ready =
      ReadyMessage::Decode(ReadyMessage{{}, {8, 6, 5, 4, 99}}.Encode());
  ASSERT_TRUE(ready) << ready.error();
  EXPECT_EQ(ready->caps.requested_worker_cap, 8U);
  EXPECT_EQ(ready->caps.effective_max_workers, 6U);
  EXPECT_EQ(ready->caps.stdio_worker_cap, 5U);
  EXPECT_EQ(ready->caps.memory_worker_cap, 4U);
  EXPECT_EQ(ready->caps.final_active_workers, 0U) << "known only at the end, never sent";

  const std::vector<FileGroup> groups = {{0, 3}, {3, 1}, {7, 120}};
  const util::Result<ConvertedMessage> converted =
      ConvertedMessage::Decode(ConvertedMessage{{}, groups}.Encode());
  ASSERT_TRUE(converted) << converted.error();
  EXPECT_EQ(converted->groups, groups);

  const MergedMessage merged = SampleMerged();
  const util::Result<MergedMessage> tally = MergedMessage::Decode(merged.Encode(), 2);
  ASSERT_TRUE(tally) << tally.error();
  EXPECT_EQ(tally->output_files, merged.output_files);
  EXPECT_EQ(tally->merged_bytes, merged.merged_bytes);
  EXPECT_EQ(tally->write_seconds, merged.write_seconds);
  EXPECT_EQ(tally->shards, merged.shards);

  EXPECT_TRUE(GoMessage::Decode(GoMessage{}.Encode()));
}

// A rank's failure ends the run on every rank with its own line, whatever phase it is in.
TEST(RunPhaseMessagesTest, AFailedOutcomeIsReadAsTheFailureItCarries) {
  const util::Error failure = util::Fail("Failed to write /out/shard-000.bin.zst");
  StartMessage start = SampleStart();
  start.outcome = failure;
  MergedMessage merged;
  merged.outcome = failure;
  const std::vector<std::string> errors = {
      StartMessage::Decode(start.Encode()).error(),
      ReadyMessage::Decode(ReadyMessage{failure, {}}.Encode()).error(),
      GoMessage::Decode(GoMessage{failure}.Encode()).error(),
      ConvertedMessage::Decode(ConvertedMessage{failure, {{0, 1}}}.Encode()).error(),
      MergedMessage::Decode(merged.Encode(), 3).error(),
  };
  for (const std::string& error : errors) EXPECT_EQ(error, failure.message);
}

TEST(RunPhaseMessagesTest, CutOverlongOrOtherMessagesAreRefusedAsDamaged) {
  ExpectRefusesDamage(SampleStart().Encode(), StartMessage::Decode);
  ExpectRefusesDamage(ReadyMessage{{}, {8, 6, 5, 4, 0}}.Encode(), ReadyMessage::Decode);
  ExpectRefusesDamage(GoMessage{}.Encode(), GoMessage::Decode);
  ExpectRefusesDamage(ConvertedMessage{{}, {{0, 3}, {3, 1}}}.Encode(), ConvertedMessage::Decode);
  ExpectRefusesDamage(SampleMerged().Encode(), [](const std::vector<std::uint8_t>& bytes) {
    return MergedMessage::Decode(bytes, 2);
  });
}

// The shards run to the end of the message: without the receiver's count, a message cut or
// extended by whole shards would read as a rank that merged fewer or more.
TEST(RunPhaseMessagesTest, AMergedMessageWithAnotherShardCountIsRefused) {
  const std::vector<std::uint8_t> bytes = SampleMerged().Encode();
  for (const std::uint64_t count : {0, 1, 3}) {
    const util::Result<MergedMessage> tally = MergedMessage::Decode(bytes, count);
    ASSERT_FALSE(tally) << count << " shards";
    EXPECT_EQ(tally.error(), kDamagedRankMessage);
  }
}

}  // namespace
}  // namespace boardmill::pipeline
