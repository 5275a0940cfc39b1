// The answers vekton-sim owes: each goes to the endpoint (and the peer) whose
// line it answers, when it is due, in the order owed; a line that goes takes
// what it was owed with it.
#include <gtest/gtest.h>

#include "SimTestUtil.h"
#include "sim/AnswerQueue.h"

using simtest::LineRig;

TEST(SimAnswers, EachEndpointGathersItsOwnLineAndGetsItsOwnAnswer) {
  LineRig rig;
  rig.Hear(0, "RD D", 1000);
  rig.Hear(1, "CR\r", 1000);
  rig.Hear(0, "M109\r", 1000);
  rig.Hear(1, std::string(sim::kKeepLine + 10, 'X') + "\r", 1000);  // too long: E1, and nothing left over
  rig.Hear(1, "CQ\r", 1000);
  sim::SendDue(rig.line, 1000);
  EXPECT_EQ(rig.at(0).received, "01234\r\n");
  EXPECT_EQ(rig.at(1).received, "CC\r\nE1\r\nCF\r\n");
  EXPECT_EQ(rig.line.owed.count(), 0u);
  EXPECT_EQ(rig.line.owed.bytes(), 0u);
}

TEST(SimAnswers, ASlowAnswerIsDueLateAndHoldsBackTheAnswersAfterIt) {
  LineRig rig;
  rig.store.SetFault(sim::Fault::Slow, 80);
  rig.Hear(0, "CR\r", 1000);
  EXPECT_EQ(rig.line.owed.NextUs(), 81'000u);
  EXPECT_EQ(sim::WaitUs(rig.line, 1000, 1'000'000), 80'000u);
  EXPECT_EQ(sim::WaitUs(rig.line, 1000, 5'000), 5'000u);
  rig.store.SetFault(sim::Fault::None);
  rig.Hear(1, "CR\r", 2000);  // due at once, but owed after the slow one
  sim::SendDue(rig.line, 80'999);
  EXPECT_EQ(rig.at(0).received + rig.at(1).received, "");
  sim::SendDue(rig.line, 81'000);
  EXPECT_EQ(rig.at(0).received, "CC\r\n");
  EXPECT_EQ(rig.at(1).received, "CC\r\n");
}

TEST(SimAnswers, ALineThatGoesIsOwedNothingAndAnotherSessionIsNotOwedItsAnswers) {
  sim::AnswerQueue q;
  std::vector<sim::Piece> pieces{{10, "CC\r\n"}, {20, "OK\r\n"}};
  q.Push(pieces, 0, 0);
  pieces = {{15, "CF\r\n"}};
  q.Push(pieces, 1, 7);
  EXPECT_TRUE(q.Owes(1, 7));
  EXPECT_FALSE(q.Owes(1, 8));
  q.Drop(0);
  EXPECT_FALSE(q.Owes(0, 0));
  EXPECT_EQ(q.count(), 1u);
  EXPECT_EQ(q.bytes(), 4u);
  EXPECT_EQ(q.NextUs(), 15u);

}

TEST(SimAnswers, PastTheirByteLimitAnswersAreLostButLaterOnesStillFit) {
  sim::AnswerQueue q;
  std::vector<sim::Piece> pieces{{1, std::string(sim::kMaxOwedBytes - 2, 'x')}, {2, "abc"}, {3, "ab"}};
  q.Push(pieces, 0, 0);
  EXPECT_EQ(q.count(), 2u);
  EXPECT_EQ(q.bytes(), sim::kMaxOwedBytes);
  sim::Owed first, second, none;
  EXPECT_FALSE(q.PopDue(0, first));
  EXPECT_TRUE(q.PopDue(3, first));
  EXPECT_TRUE(q.PopDue(3, second));
  EXPECT_EQ(second.bytes, "ab");
  EXPECT_FALSE(q.PopDue(3, none));
  EXPECT_EQ(q.bytes(), 0u);
}
