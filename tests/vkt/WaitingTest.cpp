// Sleeping until something happens: the platform's wait itself, and the
// waiting loops built on it, which must take the same steps at the same
// moments as loops that look every millisecond, with far fewer wake-ups.
#include <string>
#include <vector>

#include "platform/System.h"
#include "tests/vkt/VktFixture.h"

namespace {

class WaitingTest : public VktTest {};

// --- the wait --------------------------------------------------------------------

TEST_F(WaitingTest, KeyAlreadyQueuedEndsTheWaitAtOnce) {
  vt::PushKeys("a");
  const uint64_t start = vt::NowUs();
  EXPECT_EQ(ComWait(500, 1), WakeReason::kKey);
  EXPECT_EQ(vt::NowUs(), start);
  EXPECT_EQ(vt::PendingKeys(), 1u) << "the wait reads no key";
}

TEST_F(WaitingTest, LatchedEscEndsTheWaitAtOnce) {
  vt::PushKeys("\x1b");
  EXPECT_EQ(PollKey(), kEsc);
  const uint64_t start = vt::NowUs();
  EXPECT_EQ(ComWait(500, 1), WakeReason::kKey);
  EXPECT_EQ(vt::NowUs(), start);
}

TEST_F(WaitingTest, KeyTypedLaterEndsTheWaitWhenItComes) {
  const uint64_t start = vt::NowUs();
  Keys(37, "\x1b");
  EXPECT_EQ(ComWait(500, 0), WakeReason::kKey);
  EXPECT_EQ(vt::NowUs() - start, 37'000u);
}

TEST_F(WaitingTest, LineBytesEndTheWaitWhenTheyArrive) {
  peer.On("RD DM0", vt::ScriptedPeer::Rule{"00001", false, false, 4000});
  ComWrite(1, "RD DM0");
  const uint64_t written = vt::WrittenLineTimes(1).back();
  EXPECT_EQ(ComWait(500, 1), WakeReason::kLine);
  EXPECT_EQ(vt::NowUs() - written, 4000u);
  // Bytes already there: at once.
  EXPECT_EQ(ComWait(500, 1), WakeReason::kLine);
  EXPECT_EQ(vt::NowUs() - written, 4000u);
}

TEST_F(WaitingTest, BytesOnAnotherLineOrNoLineDoNotWake) {
  peer.On("RD DM0", "00001");
  ComWrite(1, "RD DM0");
  const uint64_t start = vt::NowUs();
  EXPECT_EQ(ComWait(300, 0), WakeReason::kDeadline);
  EXPECT_EQ(vt::NowUs() - start, 300'000u);
  EXPECT_EQ(ComWait(20, 7), WakeReason::kDeadline) << "port 7 is not open";
  EXPECT_EQ(vt::NowUs() - start, 320'000u);
}

TEST_F(WaitingTest, DeadlineWithNothingHappeningIsOneSleepAndNoSpin) {
  const uint64_t start = vt::NowUs();
  const uint64_t sleeps = vt::SleepCalls();
  EXPECT_EQ(ComWait(250, 1), WakeReason::kDeadline);
  EXPECT_EQ(vt::NowUs() - start, 250'000u);
  EXPECT_EQ(vt::SleepCalls() - sleeps, 1u);
  // A zero wait only looks.
  EXPECT_EQ(ComWait(0, 1), WakeReason::kDeadline);
  EXPECT_EQ(vt::NowUs() - start, 250'000u);
  // A long wait is never taken for a spin.
  EXPECT_NO_THROW(for (int i = 0; i < 1000; ++i) ComWait(10'000, 1));
}

TEST_F(WaitingTest, VanishedLineSleepsToTheDeadline) {
  vt::Port(1).vanished = true;
  const uint64_t start = vt::NowUs();
  EXPECT_EQ(ComWait(80, 1), WakeReason::kDeadline);
  EXPECT_EQ(vt::NowUs() - start, 80'000u);
}

TEST_F(WaitingTest, WakesOnTheMillisecondGridOfItsStart) {
  // A key between two milliseconds is seen at the next one, exactly where a
  // loop of one-millisecond sleeps from the same start would see it.
  vt::AdvanceUs(300);
  const uint64_t start = vt::NowUs();
  vt::PushKeysAt(start + 5'500, "k");
  EXPECT_EQ(ComWait(100, 0), WakeReason::kKey);
  EXPECT_EQ(vt::NowUs() - start, 6'000u);
}

// --- stopwatch sleep -----------------------------------------------------------------

TEST_F(WaitingTest, StopwatchSleepNeverPassesTheMoment) {
  TimeStamp start, lap;
  vt::AdvanceUs(4'000);  // 4 ms into a hundredth
  StopwatchStart(start, lap);
  EXPECT_EQ(StopwatchSleepMs(start, 50), 500u);
  vt::AdvanceUs(500'000);  // 504 ms: the stopwatch reads 50
  EXPECT_EQ(StopwatchSleepMs(start, 50), 0u);
  vt::AdvanceUs(7'000);
  EXPECT_EQ(StopwatchSleepMs(start, 50), 0u) << "past the limit";
  // Across midnight.
  vt::SetTimeOfDay(23, 59, 59, 90);
  StopwatchStart(start, lap);
  vt::AdvanceUs(200'000);
  EXPECT_EQ(StopwatchSleepMs(start, 50), 300u);
}

// --- the loops: same steps at the same moments ---------------------------------------

struct Outcome {
  std::vector<std::string> lines;
  std::vector<uint64_t> times;
  std::string screen;
  uint64_t endUs = 0;
  uint64_t sleeps = 0;
  bool quit = false;
};

std::string Screen() {
  std::string s;
  for (int y = 1; y <= ScreenModel::kRows; ++y) s += gScreen.Row(y) + "\n";
  return s;
}

// The Ready wait as a loop that looks every millisecond (the status line's
// own one-millisecond rest between its looks).
void WaitReadyLookingEveryMs(int port) {
  for (;;) {
    UpdateStatusLine();
    if (ReadyFlag) return;
    if (CheckQuit(port)) return;
  }
}

class WaitingLoopTest : public VktTest {
 protected:
  template <typename F>
  Outcome Once(F loop, const std::vector<std::pair<uint64_t, std::string>>& keys) {
    TearDown();
    SetUp();
    peer.On("RD DM200", "00000");
    peer.On("RD 1915", "0");
    vt::SetTimeOfDay(11, 59, 58, 37);
    vt::AdvanceUs(700);  // off the hundredths' grid
    for (const auto& k : keys) vt::PushKeysAt(vt::NowUs() + k.first, k.second);
    const uint64_t sleeps = vt::SleepCalls();
    loop();
    return Outcome{vt::WrittenLines(1), vt::WrittenLineTimes(1), Screen(), vt::NowUs(), vt::SleepCalls() - sleeps,
               QuitRequested};
  }
  static void Same(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.lines, b.lines);
    EXPECT_EQ(a.times, b.times);
    EXPECT_EQ(a.screen, b.screen);
    EXPECT_EQ(a.endUs, b.endUs);
    EXPECT_EQ(a.quit, b.quit);
  }
};

TEST_F(WaitingLoopTest, WaitReadySameStepsFarFewerWakeUps) {
  // Stray keys, an Esc answered N, another answered Q, at odd moments.
  const std::vector<std::pair<uint64_t, std::string>> keys = {
      {1'234'567, "x"}, {2'000'321, "\x1b"}, {2'210'000, "N"}, {3'333'333, "yz"}, {7'004'999, "\x1b"},
      {7'150'001, "Q"}};
  const Outcome before = Once([] { WaitReadyLookingEveryMs(1); }, keys);
  const Outcome after = Once([] { WaitReady(1); }, keys);
  Same(before, after);
  EXPECT_TRUE(after.quit);
  EXPECT_GE(after.lines.size(), 12u);
  EXPECT_LT(after.sleeps * 10, before.sleeps) << before.sleeps << " vs " << after.sleeps;
}

TEST_F(WaitingLoopTest, CountDownSameStepsFarFewerWakeUps) {
  // The yardstick: a one-second wait that reads the clock a millisecond apart.
  auto countDownLookingEveryMs = [] {
    // CountDown's own loop around a wait that looks every millisecond.
    GotoXY(10, 6);
    int width = 2;
    for (int32_t n = 12; n >= 0 && !CheckQuit(1); --n) {
      WriteInt(n, width);
      WriteText(" s");
      uint16_t h, m, s0, hs;
      GetTime(h, m, s0, hs);
      for (;;) {
        uint16_t s;
        GetTime(h, m, s, hs);
        if (s != s0 || PollKey() == kEsc) break;
        Delay(1);
      }
      for (int i = 0; i < width + 2; ++i) WriteChar(8);
      UpdateStatusLine();
    }
    WriteInt(0, width);
    WriteText(" s");
  };
  const std::vector<std::pair<uint64_t, std::string>> keys = {{4'567'891, "a"}, {9'990'500, "\x1b"},
                                                                {10'100'000, "N"}};
  const Outcome before = Once(countDownLookingEveryMs, keys);
  const Outcome after = Once(
      [] {
        GotoXY(10, 6);
        CountDown(1, 12);
      },
      keys);
  Same(before, after);
  EXPECT_GE(after.endUs, 11'000'000u);
  EXPECT_LT(after.sleeps * 10, before.sleeps) << before.sleeps << " vs " << after.sleeps;
}

TEST_F(WaitingLoopTest, CountDownEndsOnEscWithinAMillisecond) {
  const Outcome r = Once([] { CountDown(1, 30); }, {{5'432'100, "\x1b"}, {5'600'000, "Q"}});
  EXPECT_TRUE(r.quit);
  EXPECT_LT(r.endUs, 5'700'000u);
}

}  // namespace
