#include "pipeline/parallel/group_exchange_messages.h"

#include <gtest/gtest.h>

#include <vector>

#include "damaged_rank_message.h"

namespace boardmill::pipeline {
namespace {

TuningDecision SampleDecision() {
  TuningDecision decision;
  decision.elapsed_seconds = 3.5;
  decision.knobs = WorkerKnobs{6, 8192, 512, -7};  // negative levels travel as a 64-bit word
  decision.throughput = 1.25e6;
  decision.reason = "encode busy\tlower level";
  return decision;
}

TEST(GroupExchangeMessagesTest, EachMessageReadsBackWhatWasWritten) {
  const util::Result<AssignMessage> assigned =
      AssignMessage::Decode(AssignMessage{FileGroup{12, 29}, 41}.Encode());
  ASSERT_TRUE(assigned) << assigned.error();
  EXPECT_EQ(assigned->group, (FileGroup{12, 29}));
  EXPECT_EQ(assigned->backlog, 41U);

  const util::Result<AssignMessage> none = AssignMessage::Decode(AssignMessage{}.Encode());
  ASSERT_TRUE(none) << none.error();
  EXPECT_FALSE(none->group);

  const util::Result<CompletedMessage> completed =
      CompletedMessage::Decode(CompletedMessage{{7, 3}}.Encode());
  ASSERT_TRUE(completed) << completed.error();
  EXPECT_EQ(completed->group, (FileGroup{7, 3}));

  const TuningDecision decision = SampleDecision();
  const util::Result<TuningMessage> tuning =
      TuningMessage::Decode(TuningMessage{decision}.Encode());
  ASSERT_TRUE(tuning) << tuning.error();
  EXPECT_EQ(tuning->decision.elapsed_seconds, decision.elapsed_seconds);
  EXPECT_EQ(tuning->decision.knobs, decision.knobs);
  EXPECT_EQ(tuning->decision.throughput, decision.throughput);
  EXPECT_EQ(tuning->decision.reason, decision.reason);

  const util::Result<FailedMessage> failed =
      FailedMessage::Decode(FailedMessage{"Input file is not Zstandard: /in/a.fen.zst"}.Encode());
  ASSERT_TRUE(failed) << failed.error();
  EXPECT_EQ(failed->message, "Input file is not Zstandard: /in/a.fen.zst");

  const util::Result<FinishedMessage> finished =
      FinishedMessage::Decode(FinishedMessage{5}.Encode());
  ASSERT_TRUE(finished) << finished.error();
  EXPECT_EQ(finished->active_workers, 5U);

  EXPECT_TRUE(RequestMessage::Decode(RequestMessage{}.Encode()));
}

TEST(GroupExchangeMessagesTest, CutOverlongOrOtherMessagesAreRefusedAsDamaged) {
  ExpectRefusesDamage(RequestMessage{}.Encode(), RequestMessage::Decode);
  ExpectRefusesDamage(AssignMessage{FileGroup{12, 29}, 41}.Encode(), AssignMessage::Decode);
  ExpectRefusesDamage(AssignMessage{}.Encode(), AssignMessage::Decode);
  ExpectRefusesDamage(CompletedMessage{{7, 3}}.Encode(), CompletedMessage::Decode);
  ExpectRefusesDamage(TuningMessage{SampleDecision()}.Encode(), TuningMessage::Decode);
  ExpectRefusesDamage(FailedMessage{"no"}.Encode(), FailedMessage::Decode);
  ExpectRefusesDamage(FinishedMessage{5}.Encode(), FinishedMessage::Decode);
}

}  // namespace
}  // namespace boardmill::pipeline
