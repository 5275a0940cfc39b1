#include "comLib3/comLib3.h"
#include "nbrBase/nbrBase.h"
#include "platform/Crt.h"
#include "tests/support/Fixture.h"

namespace {

class KeyboardTest : public VirtualTest {};

TEST_F(KeyboardTest, PollKeyBuffersKeysAndLatchesEsc) {
  EXPECT_EQ(0, PollKey());
  vt::PushExtended(72);  // arrow up
  EXPECT_EQ(72, PollKey());
  ASSERT_EQ(1u, KeyBuffer.size());
  EXPECT_EQ('\0', KeyBuffer[0]);
  vt::PushKeys("a\x1b" "b");
  EXPECT_EQ('a', PollKey());
  EXPECT_EQ(27, PollKey());
  EXPECT_TRUE(EscAbort);
  EXPECT_EQ(std::string("\0a", 2), KeyBuffer.str());
  // Latched: the keyboard is no longer read.
  EXPECT_EQ(27, PollKey());
  EXPECT_EQ(27, WaitKey());
  EXPECT_EQ(1u, vt::PendingKeys());
  ResetKeys();
  EXPECT_FALSE(EscAbort);
  EXPECT_TRUE(KeyBuffer.empty());
  EXPECT_EQ(0u, vt::PendingKeys());
}

TEST_F(KeyboardTest, TypeAheadStopsAt255Keys) {
  vt::PushKeys(std::string(300, 'k'));
  while (PollKey() != 0) {
  }
  EXPECT_EQ(255u, KeyBuffer.size());
  EXPECT_EQ('k', TakeBufferedKey());
  EXPECT_EQ(254u, KeyBuffer.size());
}

TEST_F(KeyboardTest, WaitKeyAndFlushKeys) {
  vt::PushExtended(75);
  vt::PushKeys("x");
  EXPECT_EQ(0, WaitKey());  // extended key: its code is dropped
  EXPECT_EQ('x', WaitKey());
  EXPECT_TRUE(KeyBuffer.empty());
  vt::PushKeys("pq");
  EXPECT_EQ('q', FlushKeys());
  EXPECT_EQ(0, FlushKeys());
}

TEST_F(KeyboardTest, WaitTenthsAlwaysWaitsAtLeastOneStep) {
  uint64_t t0 = vt::NowUs();
  WaitTenths(0);
  EXPECT_EQ(100000u, vt::NowUs() - t0);
  t0 = vt::NowUs();
  WaitTenths(-5);
  EXPECT_EQ(100000u, vt::NowUs() - t0);
  t0 = vt::NowUs();
  WaitTenths(7);
  EXPECT_EQ(700000u, vt::NowUs() - t0);
  EscAbort = true;
  t0 = vt::NowUs();
  WaitTenths(7);
  EXPECT_EQ(100000u, vt::NowUs() - t0);
}

TEST_F(KeyboardTest, WaitSecondsCountsChangesOfTheSecond) {
  vt::AdvanceUs(10000 - vt::NowUs() % 10000);  // on a hundredth
  vt::SetTimeOfDay(10, 0, 0, 40);
  uint64_t t0 = vt::NowUs();
  WaitSeconds(3);
  EXPECT_EQ(2600000u, vt::NowUs() - t0);  // 0.6 s to the first change, then two more seconds
  t0 = vt::NowUs();
  WaitSeconds(0);
  EXPECT_EQ(t0, vt::NowUs());
  vt::PushKeysAt(vt::NowUs() + 1500000, "\x1b");
  t0 = vt::NowUs();
  WaitSeconds(10);
  EXPECT_EQ(1500000u, vt::NowUs() - t0);
  EXPECT_TRUE(EscAbort);
}

TEST_F(KeyboardTest, ReadFieldEditsTheDefault) {
  ShortStr text = "12";
  vt::PushKeys("\b5\r");
  EXPECT_EQ(2, ReadField(text, 10));
  EXPECT_EQ("15", text);
  EXPECT_EQ("15", Text(1, 1, 2));
  EXPECT_EQ(1, WhereX());
  EXPECT_EQ(2, WhereY());

  text = "12";
  vt::PushKeys("9\x1b");
  EXPECT_EQ(-1, ReadField(text, 10));
  EXPECT_EQ("12", text);
  ResetKeys();

  text = "";
  vt::PushKeys("abcdefghij\r");
  EXPECT_EQ(10, ReadField(text, 4));
  EXPECT_EQ("abcd", text);

  text = "";
  vt::PushKeys("\b\bz\r");  // Backspace on an empty field does nothing
  EXPECT_EQ(1, ReadField(text, 4));
  EXPECT_EQ("z", text);
}

TEST_F(KeyboardTest, NumberLinesAcceptOnlyWholeNumbers) {
  int32_t v = 0;
  vt::PushKeys(" 42 \r");
  EXPECT_EQ(NumberEntry::Ok, ReadNumberLine(v));
  EXPECT_EQ(42, v);
  vt::PushKeys("-7\r");
  EXPECT_EQ(NumberEntry::Ok, ReadNumberLine(v));
  EXPECT_EQ(-7, v);
  for (const char* bad : {"abc\r", "\r", "12x\r", "99999999999\r", "- 3\r", "1.5\r"}) {
    vt::PushKeys(bad);
    EXPECT_EQ(NumberEntry::NotANumber, ReadNumberLine(v)) << bad;
  }
  vt::PushKeys("12\x1b");
  EXPECT_EQ(NumberEntry::Escaped, ReadNumberLine(v));
  vt::PushKeys(std::string(400, '7') + "\r");
  EXPECT_EQ(NumberEntry::NotANumber, ReadNumberLine(v));
  vt::PushKeys("\x01\x02" "5\x7f\r");  // pasted control bytes are refused
  EXPECT_EQ(NumberEntry::NotANumber, ReadNumberLine(v));  // DEL is no digit
  vt::PushKeys("\x01\x02" "5\r");
  EXPECT_EQ(NumberEntry::Ok, ReadNumberLine(v));
  EXPECT_EQ(5, v);
  vt::PushKeys("3\x1b[2J\r");  // an escape sequence abandons the line
  EXPECT_EQ(NumberEntry::Escaped, ReadNumberLine(v));
  vt::PushKeys("[2J\r");
  EXPECT_EQ(NumberEntry::NotANumber, ReadNumberLine(v));
}

TEST_F(KeyboardTest, TextHelpers) {
  ShortStr d;
  TwoDigits(7, ':', d);
  EXPECT_EQ("07:", d);
  TwoDigits(12, '\0', d);
  EXPECT_EQ("12", d);
  TwoDigits(123, '.', d);
  EXPECT_EQ("123.", d);
  UpperStr("abz-AZ {}\x84", d);
  EXPECT_EQ("ABZ-AZ {}\x84", d);

  NewLine();
  EXPECT_EQ(1, WhereX());
  EXPECT_EQ(2, WhereY());
  Window(10, 1, 70, 25);
  EXPECT_EQ(70, ScreenWidth());
  EXPECT_EQ(25, ScreenHeight());
  GotoXY(5, 4);
  SaveCursor();
  GotoXY(1, 1);
  RestoreCursor();
  EXPECT_EQ(5, WhereX());
  EXPECT_EQ(4, WhereY());
  FullWindow();
  EXPECT_EQ(80, ScreenWidth());
}

TEST_F(KeyboardTest, HexWordShowsSignAndFourDigits) {
  ShortStr t;
  HexWord(0x0012, t);
  EXPECT_EQ("0012", t);
  HexWord(0x8012, t);
  EXPECT_EQ("-0012", t);
  HexWord(0x1A2B, t);
  EXPECT_EQ("1A2B", t);
  EXPECT_EQ("0012-00121A2B", Text(1, 1, 13));
  uint32_t v = 0xFFFFFFFF;
  ClearBit(3, v);
  EXPECT_EQ(0xFFF7u, v);
  EXPECT_TRUE(TestBit(15, 0x8000));
  EXPECT_EQ(0, BitMask(16));
}

class TimingTest : public VirtualTest {};

TEST_F(TimingTest, StopwatchAcrossMidnight) {
  TimeStamp start, now;
  start.hour = 23, start.minute = 59, start.second = 59, start.hundredths = 90;
  vt::SetTimeOfDay(0, 0, 0, 10);
  EXPECT_EQ(20, StopwatchRead(start, now));
  EXPECT_EQ(0, now.hour);
  EXPECT_EQ(0, now.minute);
  EXPECT_EQ(0, now.second);
  EXPECT_EQ(20, now.hundredths);

  TimeStamp lap;
  lap.hour = 5;
  StopwatchStart(start, lap);
  EXPECT_EQ(0, lap.hour);
  vt::AdvanceUs(1234 * 10000ull);
  EXPECT_EQ(1234, StopwatchRead(start, now));
  EXPECT_EQ(12, now.second);
  EXPECT_EQ(34, now.hundredths);

  int32_t h;
  TimeStamp t;
  t.hour = 23, t.minute = 59, t.second = 59, t.hundredths = 99;
  ToHundredths(t, h);
  EXPECT_EQ(8639999, h);
  FromHundredths(8639999, t);
  EXPECT_EQ(23, t.hour);
  EXPECT_EQ(99, t.hundredths);
}

TEST_F(TimingTest, RandomNumbersFollowTheGenerator) {
  RandSeed = 0;
  EXPECT_EQ(0u, RandomBelow(100));  // seed 1
  EXPECT_EQ(3u, RandomBelow(100));  // seed 134775814
  for (int i = 0; i < 200; ++i) EXPECT_EQ(3, RandomRange(3, 3));
  for (int i = 0; i < 200; ++i) {
    int32_t v = RandomRange(2, 9);
    EXPECT_GE(v, 2);
    EXPECT_LE(v, 9);
  }
  // Bounds with nothing to draw must not hang.
  EXPECT_EQ(5, RandomRange(5, 2));
  EXPECT_EQ(1, RandomRange(1, 0));
  EXPECT_EQ(-4, RandomRange(-4, -6));

  RandSeed = 0;
  vt::SetTimeOfDay(3, 0, 0, 7);  // hour + hundredths = 10 draws
  RandomizeFromClock();
  uint32_t expect = 0;
  for (int i = 0; i < 10; ++i) expect = expect * 134775813u + 1u;
  EXPECT_EQ(expect, RandSeed);
}

TEST_F(TimingTest, ResultNameSkipsNamesInUse) {
  ShortStr name;
  UniqueResultName(1234, name, ".spf");
  EXPECT_EQ("1234_00", name);
  vt::PutFile("1234_00.spf");
  vt::PutFile("1234_01.spf");
  UniqueResultName(1234, name, ".spf");
  EXPECT_EQ("1234_02", name);
  // Found along PATH as well.
  vt::SetEnv("PATH", "/usr/bin:/data");
  vt::PutFile("/data/1234_02.spf");
  UniqueResultName(1234, name, ".spf");
  EXPECT_EQ("1234_03", name);
  // An Esc pending from before does not hand back a name in use.
  EscAbort = true;
  UniqueResultName(1234, name, ".spf");
  EXPECT_EQ("1234_03", name);
  for (int i = 3; i < 100; ++i) vt::PutFile("77_" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".spf");
  vt::PutFile("77_00.spf");
  vt::PutFile("77_01.spf");
  vt::PutFile("77_02.spf");
  UniqueResultName(77, name, ".spf");
  EXPECT_EQ("77_100", name);
}

}  // namespace
