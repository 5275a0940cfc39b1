#include "KV_Lib3/KV_Lib3.h"
#include "comLib3/comLib3.h"
#include "tests/support/Fixture.h"

namespace {

class HostLinkTest : public VirtualTest {
 protected:
  void SetUp() override {
    VirtualTest::SetUp();
    ASSERT_EQ(0, KvOpenPort(1));
  }
  ShortStr answer;
};

TEST_F(HostLinkTest, NumbersGoOutAsUnsignedWords) {
  KvWriteDm(1, 0, -1, answer);
  KvExchange(1, "WR DM10 -5", answer);
  KvExchange(1, "WR DM10 -5 and more", answer);
  KvExchange(1, "WR DM3 -", answer);
  KvExchange(1, "WR DM3 -70000", answer);
  KvWriteDm(1, 6, 70000, answer);
  KvReadDm(1, 200, answer);
  KvSetRelay(1, 1801, answer);
  KvResetRelay(1, 1907, answer);
  KvReadRelay(1, 1915, answer);
  KvReadTimer(1, 12, answer);
  KvCommQuit(1, answer);
  EXPECT_EQ("WR DM0 65535\rWR DM10 65531\rWR DM10 65531\rWR DM3 0\rWR DM3 61072\r"
            "WR DM6 4464\rRD DM200\rST 1801\rRS 1907\rRD 1915\rRD T12\rCQ\r",
            vt::WrittenText(1));
}

TEST_F(HostLinkTest, AnswerIsCutOfItsLineEndAndTakesOneReadTimeout) {
  peer.On("RD DM109", "01234");
  const uint64_t t0 = vt::NowUs();
  KvReadDm(1, 109, answer);
  EXPECT_EQ("01234", answer);
  EXPECT_EQ(53000u, vt::NowUs() - t0);  // 1 ms after writing, one read time-out
  EXPECT_EQ(1234, KvValue(answer));
  EXPECT_EQ(1u, vt::Port(1).purges - 0u);
}

TEST_F(HostLinkTest, SilentControllerCostsTwoReadTimeouts) {
  answer = "stale";
  const uint64_t t0 = vt::NowUs();
  KvReadDm(1, 0, answer);
  EXPECT_EQ("", answer);
  EXPECT_EQ(107000u, vt::NowUs() - t0);
}

TEST_F(HostLinkTest, ShortErrorAndSplitAnswers) {
  peer.On("XX", vt::ScriptedPeer::Rule{"E1", true});  // no CR LF
  KvExchange(1, "XX", answer);
  EXPECT_EQ("", answer);
  EXPECT_EQ(1u, vt::WrittenLines(1).size());

  peer.On("RD DM5", vt::ScriptedPeer::Rule{"12345", false, false, 2000, 3, 80000});
  KvReadDm(1, 5, answer);
  EXPECT_EQ("1", answer);  // the first piece only, less its last two bytes
  vt::AdvanceUs(100000);   // the rest arrives and is purged by the next command

  peer.On("ONE", vt::ScriptedPeer::Rule{"Z", true});
  KvExchange(1, "ONE", answer);
  EXPECT_EQ("Z", answer);

  peer.On("RD DM7", "E0");
  KvReadDm(1, 7, answer);
  EXPECT_EQ("E0", answer);
}

TEST_F(HostLinkTest, LateAnswerToAnEarlierCommandIsPurged) {
  peer.On("RD DM1", vt::ScriptedPeer::Rule{"00001", false, false, 150000});
  peer.On("RD DM2", "00002");
  KvReadDm(1, 1, answer);
  EXPECT_EQ("", answer);
  vt::AdvanceUs(100000);  // the late answer has arrived meanwhile
  KvReadDm(1, 2, answer);
  EXPECT_EQ("00002", answer);
}

TEST_F(HostLinkTest, TimerAnswerKeepsContactAndAnythingPastThirteen) {
  peer.On("RD T12", "1,00012,00020");
  peer.On("RD T13", "0,00012,00020XY");
  peer.On("RD T14", "1,0");
  KvReadTimer(1, 12, answer);
  EXPECT_EQ("1", answer);
  KvReadTimer(1, 13, answer);
  EXPECT_EQ("0XY", answer);
  KvReadTimer(1, 14, answer);
  EXPECT_EQ("1", answer);
}

TEST_F(HostLinkTest, CommRequestRetriesTwiceAHundredMsApart) {
  const uint64_t t0 = vt::NowUs();
  KvCommRequest(1, answer);
  EXPECT_EQ("", answer);
  auto times = vt::WrittenLineTimes(1);
  ASSERT_EQ(3u, times.size());
  EXPECT_EQ((std::vector<std::string>{"CR", "CR", "CR"}), vt::WrittenLines(1));
  EXPECT_EQ(207000u, times[1] - times[0]);  // silent exchange + 100 ms
  EXPECT_EQ(207000u, times[2] - times[1]);
  EXPECT_EQ(3 * 107000u + 200000u, vt::NowUs() - t0);

  vt::ClearWritten(1);
  peer.On("CR", "CC");
  KvCommRequest(1, answer);
  EXPECT_EQ("CC", answer);
  EXPECT_EQ(1u, vt::WrittenLines(1).size());
}

TEST_F(HostLinkTest, EscAbortSendsNothing) {
  peer.On("CR", "CC");
  EscAbort = true;
  answer = "x";
  KvReadDm(1, 0, answer);
  EXPECT_EQ("", answer);
  uint64_t t0 = vt::NowUs();
  KvCommRequest(1, answer);
  EXPECT_EQ(200000u, vt::NowUs() - t0);  // still three tries, two pauses
  t0 = vt::NowUs();
  KvWaitRelay(1, 1915);
  EXPECT_EQ(100000u, vt::NowUs() - t0);
  t0 = vt::NowUs();
  EXPECT_EQ(1, KvWaitTimer(1, 20));
  EXPECT_EQ(100000u, vt::NowUs() - t0);
  EXPECT_EQ("", vt::WrittenText(1));
}

TEST_F(HostLinkTest, EscWhileWritingCutsTheLine) {
  vt::PushKeys("\x1b");
  answer = "before";
  KvExchange(1, "WR DM0 5", answer);
  EXPECT_EQ("", vt::WrittenText(1));
  EXPECT_EQ("before", answer);
}

TEST_F(HostLinkTest, EscWhileReadingDropsTheAnswer) {
  peer.On("RD DM0", vt::ScriptedPeer::Rule{"00009", false, false, 70000});
  vt::PushKeysAt(vt::NowUs() + 20000, "\x1b");
  answer = "before";
  KvReadDm(1, 0, answer);
  EXPECT_EQ("before", answer);
  EXPECT_TRUE(EscAbort);
}

TEST_F(HostLinkTest, WaitRelayNeedsTheExactState) {
  int polls = 0;
  peer.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule& r) {
    if (line != "RD 1915") return false;
    ++polls;
    r.answer = polls < 3 ? "0 " : "0";
    return true;
  });
  vt::PushKeys("k");
  EXPECT_EQ('k', KvWaitRelay(1, -1915));
  EXPECT_EQ(3, polls);
  EXPECT_EQ("k", KeyBuffer);  // the key stays for its reader
  EXPECT_EQ(std::vector<std::string>(3, "RD 1915"), vt::WrittenLines(1));

  vt::ClearWritten(1);
  KeyBuffer.Clear();
  peer.On("RD 0", "0");
  EXPECT_EQ('\0', KvWaitRelay(1, 0));
  EXPECT_EQ(std::vector<std::string>{"RD 0"}, vt::WrittenLines(1));
}

TEST_F(HostLinkTest, WaitRelayEndsOnEsc) {
  peer.On("RD 1815", "0");
  vt::PushKeysAt(vt::NowUs() + 1000000, "\x1b");
  KvWaitRelay(1, 1815);
  EXPECT_TRUE(EscAbort);
  EXPECT_LT(vt::NowUs(), 1400000u);
}

TEST_F(HostLinkTest, WaitTimerCountsPolls) {
  int polls = 0;
  peer.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule& r) {
    if (line != "RD T20") return false;
    r.answer = ++polls < 4 ? "0,00001,00020" : "1,00020,00020";
    return true;
  });
  EXPECT_EQ(4, KvWaitTimer(1, 20));
  // An empty answer never counts as the contact.
  peer.On("RD T21", vt::ScriptedPeer::Rule{"", false, true});
  vt::PushKeysAt(vt::NowUs() + 1000000, "\x1b");
  EXPECT_GT(KvWaitTimer(1, 21), 3);
}

TEST_F(HostLinkTest, PortThatIsNotOpenAnswersEmpty) {
  ComClose(1);
  answer = "x";
  const uint64_t t0 = vt::NowUs();
  KvReadDm(1, 0, answer);
  EXPECT_EQ("", answer);
  EXPECT_EQ(3000u, vt::NowUs() - t0);
}

TEST_F(HostLinkTest, DecimalConversionStopsAtTheFirstNonDigit) {
  EXPECT_EQ(0, KvValue(""));
  EXPECT_EQ(12, KvValue("  12A4"));
  EXPECT_EQ(0, KvValue("E1"));
  EXPECT_EQ(65535, KvValue("65535"));
  EXPECT_EQ(INT32_MAX, KvValue("99999999999999999999"));
}

}  // namespace
