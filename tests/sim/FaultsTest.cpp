// The faults the simulator can put on the line or into the store, and the
// speed factor.
#include <gtest/gtest.h>

#include "SimTestUtil.h"

using simtest::Send;

namespace {

constexpr uint64_t kT = 10'000'000;

TEST(SimFaults, ASilentOrVanishedLineNeitherHearsNorAnswers) {
  for (sim::Fault f : {sim::Fault::Silent, sim::Fault::Vanish}) {
    sim::Store s;
    s.SetFault(f);
    EXPECT_EQ(Send(s, "WR DM10 5\r", kT), "") << sim::FaultName(f);
    EXPECT_EQ(Send(s, "CR\r", kT), "");
    s.SetFault(sim::Fault::None);
    EXPECT_EQ(Send(s, "RD DM10\r", kT), "00000\r\n");  // the write never arrived
  }
}

TEST(SimFaults, SlowAnswersComeLateButWhole) {
  sim::Store s;
  std::vector<sim::Piece> normal, slow, slower;
  Send(s, "RD DM109\r", kT, &normal);
  s.SetFault(sim::Fault::Slow);
  EXPECT_EQ(Send(s, "RD DM109\r", kT + 1'000'000, &slow), "01234\r\n");
  s.SetFault(sim::Fault::Slow, 200);
  Send(s, "RD DM109\r", kT + 2'000'000, &slower);
  ASSERT_EQ(slow.size(), 1u);
  EXPECT_EQ(slow[0].atUs - (kT + 1'000'000), normal[0].atUs - kT + 80'000);
  EXPECT_EQ(slower[0].atUs - (kT + 2'000'000), normal[0].atUs - kT + 200'000);
}

TEST(SimFaults, SplitAnswersComeInTwoPiecesMoreThanOneReadTimeOutApart) {
  sim::Store s;
  s.SetFault(sim::Fault::Split);
  std::vector<sim::Piece> pieces;
  EXPECT_EQ(Send(s, "RD DM109\r", kT, &pieces), "01234\r\n");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].bytes, "012");
  EXPECT_GT(pieces[1].atUs - pieces[0].atUs, 52'000u);
  // A short answer splits too: the console reads "O" and never the rest.
  Send(s, "WR DM0 0\r", kT + 1'000'000, &pieces);
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].bytes, "OK");
  EXPECT_EQ(pieces[1].bytes, "\r\n");
}

TEST(SimFaults, GarbagePutsStrayBytesBeforeTheAnswer) {
  sim::Store s;
  s.SetFault(sim::Fault::Garbage);
  for (int i = 0; i < 50; ++i) {
    const std::string got = Send(s, "CR\r", kT + i);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got.substr(3), "CC\r\n");
    for (int j = 0; j < 3; ++j) {
      const auto b = static_cast<uint8_t>(got[j]);
      EXPECT_TRUE(b < 0x20 || b > 0x7E) << "noise byte " << int(b);
      EXPECT_NE(b, '\r');
      EXPECT_NE(b, '\n');
    }
  }
}

TEST(SimFaults, ErrorAnswersRefuseEverythingButTheCommunicationRequest) {
  sim::Store s;
  s.SetFault(sim::Fault::Error);
  EXPECT_EQ(Send(s, "CR\r", kT), "CC\r\n");
  EXPECT_EQ(Send(s, "RD DM109\r", kT), "E1\r\n");
  EXPECT_EQ(Send(s, "WR DM0 5\r", kT), "E1\r\n");
  EXPECT_EQ(Send(s, "CQ\r", kT), "CF\r\n");
  s.AdvanceTo(kT + 5'000'000);
  EXPECT_EQ(s.CarrouselPosition(), 1);  // refused means not done
}

TEST(SimFaults, AStoreThatNeverGetsReadyHangsUntilTheFaultIsCleared) {
  sim::Store s;
  s.SetFault(sim::Fault::NeverReady);
  EXPECT_EQ(s.Execute("RD 1915", kT), "0");
  EXPECT_EQ(s.Execute("WR DM0 5", kT), "OK");
  s.AdvanceTo(kT + 60'000'000);
  EXPECT_EQ(s.CarrouselPosition(), 1);
  EXPECT_EQ(s.Execute("RD 1915", kT + 60'000'000), "0");
  s.SetFault(sim::Fault::None);
  s.AdvanceTo(kT + 60'000'001);  // the waiting move starts now
  s.AdvanceTo(kT + 62'000'000);
  EXPECT_EQ(s.CarrouselPosition(), 5);
  EXPECT_TRUE(s.Ready());
}

TEST(SimFaults, SpeedMakesTheMechanicsFasterButNotTheAnswers) {
  sim::Options fast;
  fast.speed = 10;
  sim::Store s(sim::DefaultProfile(), fast);
  std::vector<sim::Piece> pieces;
  Send(s, "WR DM0 9\r", kT, &pieces);
  EXPECT_EQ(pieces[0].atUs, kT + 2000 + 4 * 1146);
  uint64_t t = kT;
  while (!s.Ready() && t < kT + 2'000'000) s.AdvanceTo(t += 1000);
  EXPECT_GT(t - kT, 150'000u);  // about a tenth of the 1.9 s a real move takes
  EXPECT_LT(t - kT, 230'000u);
  EXPECT_EQ(s.CarrouselPosition(), 9);
  // The speed can change on the way; the clocks stay continuous.
  s.SetSpeed(1);
  s.Execute("WR DM0 1", t);
  const uint64_t t0 = t;
  while (!s.Ready()) s.AdvanceTo(t += 1000);
  EXPECT_GT(t - t0, 250'000u);
  EXPECT_EQ(s.NextEventUs(), UINT64_MAX);  // standing still: nothing to wake up for
}

}  // namespace
