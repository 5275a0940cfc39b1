// A line that goes away in the middle of an exchange and comes back: the
// store receives every command line whole exactly once after the CR could
// have reached it, and never a second time.
#include <cerrno>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Globals.h"
#include "VKT_Lib3/ScreenText.h"
#include "VKT_Lib3/StatusLine.h"
#include "comLib3/comLib3.h"
#include "platform/Serial.h"
#include "tests/support/Fixture.h"

namespace {

class LineLostTest : public VirtualTest {
 protected:
  void SetUp() override {
    VirtualTest::SetUp();
    ASSERT_EQ(0, KvOpenPort(1));
    peer.On("RD DM200", "00003");
    peer.On("RD DM201", "00007");
    t0 = vt::NowUs();
  }
  vt::PortState& port() { return vt::Port(1); }
  ShortStr answer = "stale";
  uint64_t t0 = 0;
};

TEST_F(LineLostTest, GoneBeforeTheWriteTheCommandWaitsAndGoesOnceWhole) {
  port().vanishAtUs = t0;
  port().backAtUs = t0 + 2'500'000;
  KvReadDm(1, 200, answer);
  EXPECT_EQ("00003", answer);
  EXPECT_EQ("RD DM200\r", vt::WrittenText(1));
  // Reopened by the platform at its once-a-second tries: 0, 1, 2 s failed.
  EXPECT_EQ(1u, port().reopens);
  EXPECT_GE(vt::NowUs() - t0, 3'000'000u);
  EXPECT_LT(vt::NowUs() - t0, 3'200'000u);
  const LineLosses l = ComLineLosses();
  EXPECT_EQ(1u, l.count);
  EXPECT_FALSE(l.down);
  EXPECT_EQ(300, l.downHundredths);
}

// Every call on a lost line says so with the same code, the settings and
// time-outs included; a handle that is not open is a bad handle.
TEST_F(LineLostTest, EveryCallOnALostLineFailsWithItsCode) {
  vt::ScriptedPeer second;
  vt::AttachPort(2, &second);
  SerialHandle h = kInvalidSerialHandle;
  ASSERT_EQ(0, SerialOpen(2, h));
  vt::Port(2).vanishAtUs = vt::NowUs();
  SerialSettings s;
  SerialTimeouts t;
  uint32_t waiting = 0;
  EXPECT_FALSE(SerialGetSettings(h, s));
  EXPECT_EQ(kSerialErrLineLost, SerialLastError());
  EXPECT_FALSE(SerialSetSettings(h, s));
  EXPECT_EQ(kSerialErrLineLost, SerialLastError());
  EXPECT_FALSE(SerialGetTimeouts(h, t));
  EXPECT_EQ(kSerialErrLineLost, SerialLastError());
  EXPECT_FALSE(SerialSetTimeouts(h, t));
  EXPECT_EQ(kSerialErrLineLost, SerialLastError());
  EXPECT_FALSE(SerialClearError(h, waiting));
  EXPECT_EQ(kSerialErrLineLost, SerialLastError());
  SerialClose(h);
  EXPECT_FALSE(SerialGetSettings(h, s));
  EXPECT_EQ(EBADF, SerialLastError());
}

TEST_F(LineLostTest, GoneDuringTheWriteTheWholeLineGoesAgain) {
  port().vanishAfterBytes = 3;  // "RD " went, the rest did not
  port().backAtUs = t0 + 1'500'000;
  KvReadDm(1, 200, answer);
  EXPECT_EQ("00003", answer);
  // The piece without its CR on the old line, then the line whole.
  EXPECT_EQ("RD RD DM200\r", vt::WrittenText(1));
  EXPECT_EQ(1u, ComLineLosses().count);
}

TEST_F(LineLostTest, GoneWhileWaitingForTheAnswerIsAnEmptyAnswerAndNoSecondSend) {
  // The CR goes out at t0; the line is gone before the answer (2 ms) comes.
  port().vanishAtUs = t0 + 500;
  port().backAtUs = t0 + 1'500'000;
  KvReadDm(1, 200, answer);
  EXPECT_EQ("", answer);
  EXPECT_EQ("RD DM200\r", vt::WrittenText(1));
  // The next command waits for the line; the lost one is not repeated.
  KvReadDm(1, 201, answer);
  EXPECT_EQ("00007", answer);
  EXPECT_EQ("RD DM200\rRD DM201\r", vt::WrittenText(1));
  EXPECT_EQ(1u, ComLineLosses().count);
  EXPECT_EQ(1u, port().reopens);
}

TEST_F(LineLostTest, EscEndsTheWaitAndTheLineIsThenGivenUpUntilItIsBack) {
  port().vanishAtUs = t0;
  vt::PushKeysAt(t0 + 1'230'000, "\x1b");
  KvReadDm(1, 200, answer);
  EXPECT_EQ("stale", answer);  // as any exchange that Esc cuts short
  EXPECT_LT(vt::NowUs() - (t0 + 1'230'000), 100'000u);
  EXPECT_EQ("", vt::WrittenText(1));
  EXPECT_EQ(kEsc, PollKey());

  // Given up: the next exchanges do not wait; they answer as a silent line.
  ResetKeys();
  const uint64_t t1 = vt::NowUs();
  KvReadDm(1, 200, answer);
  EXPECT_EQ("", answer);
  EXPECT_LT(vt::NowUs() - t1, 200'000u);
  EXPECT_TRUE(ComLineLosses().down);

  // The device is back: the next exchange a second after the last try finds
  // the line reopened and it counts as one loss.
  port().vanished = false;
  vt::AdvanceUs(1'000'000);
  KvReadDm(1, 201, answer);
  EXPECT_EQ("00007", answer);
  EXPECT_EQ("RD DM201\r", vt::WrittenText(1));
  EXPECT_EQ(1u, ComLineLosses().count);
  EXPECT_FALSE(ComLineLosses().down);
}

TEST_F(LineLostTest, TypedCommandLineWaitsForTheLineToo) {
  port().vanishAfterBytes = 4;
  port().backAtUs = t0 + 800'000;
  EXPECT_EQ(9, ComWrite(1, "RD DM201"));
  EXPECT_EQ("RD DRD DM201\r", vt::WrittenText(1));
}

TEST_F(LineLostTest, LossesAddUpAndAPortOpenedAfreshEndsOne) {
  port().vanishAtUs = t0;
  port().backAtUs = t0 + 500'000;
  KvReadDm(1, 200, answer);  // back at the try 1 s after the first
  port().vanishAtUs = vt::NowUs() + 5'000'000;
  port().backAtUs = vt::NowUs() + 5'100'000;
  vt::AdvanceUs(6'000'000);
  KvReadDm(1, 200, answer);
  LineLosses l = ComLineLosses();
  EXPECT_EQ(2u, l.count);
  // 1 s, then a loss found at 6 s when the device was back already: the
  // first try reopens it at once.
  EXPECT_EQ(100, l.downHundredths);

  port().vanishAtUs = vt::NowUs();
  EXPECT_FALSE(ComLineUp(1));
  vt::AdvanceUs(700'000);
  l = ComLineLosses();
  EXPECT_TRUE(l.down);
  EXPECT_EQ(170, l.downHundredths);  // the loss going on counts up to now
  ComClose(1);
  vt::AdvanceUs(10'000'000);
  EXPECT_EQ(170, ComLineLosses().downHundredths);
  EXPECT_FALSE(ComLineLosses().down);
}

class LineLostStatusTest : public LineLostTest {
 protected:
  void SetUp() override {
    LineLostTest::SetUp();
    GlobalsInit();
    ScreenTextInit();
    StatusLineInit();
    SerialNumber = 1234;
    ComPort = 1;
  }
};

TEST_F(LineLostStatusTest, StatusLineSaysSinceWhenTheLineIsLost) {
  vt::AdvanceUs(3'000'000);  // 10:00:03
  port().vanishAtUs = vt::NowUs();
  vt::PushKeysAt(vt::NowUs() + 2'400'000, "\x1b");
  EXPECT_FALSE(ComLineUp(1));
  EXPECT_FALSE(ComAwaitLine(1));
  const std::string row = Row(1);
  EXPECT_EQ("Vekton  # 1234    ComPort  1       Line lost 10:00:03", row.substr(0, 53));
  EXPECT_EQ(std::string(19, ' '), row.substr(53, 19));
  // Refreshed while it waited: the clock of the last refresh, half-second steps.
  EXPECT_EQ("10:00:05", row.substr(72, 8));
}

TEST_F(LineLostStatusTest, WaitsAndTheStatusPollsGoOnOnceTheLineIsBack) {
  peer.On("RD 1915", "1");
  port().vanishAtUs = t0;
  port().backAtUs = t0 + 1'500'000;
  WaitReady(1);  // the first poll waits for the line, the second reads Ready
  EXPECT_TRUE(ReadyFlag);
  EXPECT_EQ("RD DM200\rRD 1915\r", vt::WrittenText(1));
  EXPECT_NE(std::string::npos, Row(1).find("Ready 1"));
}

}  // namespace
