#include <string>

#include "VktFixture.h"

namespace {

const std::string kExampleRow =
    "Vekton  # 1234    ComPort  1       ->       SysStat $0003    Ready 1    14:03:09";

bool IsStatusPoll(const std::string& line) { return line == "RD DM200" || line == "RD 1915"; }

}  // namespace

class StatusLineTest : public VktTest {
 protected:
  void SetUp() override {
    VktTest::SetUp();
    SerialNumber = 1234;
    vt::SetTimeOfDay(14, 3, 9, 0);
  }
};

TEST_F(StatusLineTest, ExampleRowCellByCell) {
  peer.On("RD DM200", "00003");
  ReadyFlag = true;
  StatusPollPhase = 2;  // this refresh polls DM200
  ASSERT_TRUE(DrawStatusLine());
  EXPECT_EQ(Lines(), std::vector<std::string>{"RD DM200"});
  EXPECT_EQ(StatusPollPhase, 1);
  EXPECT_EQ(SysStat, 3);

  ASSERT_EQ(kExampleRow.size(), 80u);
  EXPECT_EQ(Text(1, 1, 80), kExampleRow);
  EXPECT_EQ(Text(68, 1, 1), "1");
  EXPECT_EQ(Text(73, 1, 8), "14:03:09");
  EXPECT_TRUE(Colours(1, 1, 80, 14, 4));
  EXPECT_TRUE(Colours(1, 2, 80, 1, 7));  // nothing spilt onto the work area
  EXPECT_EQ(WhereX(), 1);
  EXPECT_EQ(WhereY(), 1);
  EXPECT_EQ(TextAttr(), 0x71);
}

TEST_F(StatusLineTest, DrawnOnRowOneWhateverTheWindowAndEverythingGivenBack) {
  peer.On("RD DM200", "00003");
  peer.On("RD 1915", "1");
  Window(10, 1, 70, 25);
  ClrScr();
  GotoXY(5, 7);
  WriteText("work");  // cursor now at window column 9, row 7
  TextColor(2);
  TextBackground(0);
  const uint8_t attr = TextAttr();

  StatusPollPhase = 0;
  ASSERT_TRUE(DrawStatusLine());  // polls DM200, phase 1
  vt::AdvanceUs(600'000);
  ASSERT_TRUE(DrawStatusLine());  // polls 1915, phase 2
  EXPECT_EQ(Lines(), (std::vector<std::string>{"RD DM200", "RD 1915"}));

  EXPECT_EQ(Text(1, 1, 37), "Vekton  # 1234    ComPort  1       <-");
  EXPECT_EQ(Text(58, 1, 11), "    Ready 1");
  EXPECT_EQ(Text(73, 1, 8), "14:03:09");
  EXPECT_TRUE(Colours(1, 1, 80, 14, 4));
  // The work area's row 2 is untouched: no wrap of a line drawn in the window.
  EXPECT_EQ(Text(1, 2, 80), std::string(80, ' '));
  EXPECT_TRUE(Colours(1, 2, 80, 1, 7));
  EXPECT_EQ(Text(14, 7, 4), "work");

  EXPECT_EQ(WindMin(), 0x0009);
  EXPECT_EQ(WindMax(), 0x1845);
  EXPECT_EQ(WhereX(), 9);
  EXPECT_EQ(WhereY(), 7);
  EXPECT_EQ(TextAttr(), attr);
  WriteText("!");
  EXPECT_EQ(Text(18, 7, 1), "!");
}

TEST_F(StatusLineTest, AtMostOnePollPerHalfSecondAlternating) {
  peer.On("RD DM200", "00007");
  peer.On("RD 1915", "0");
  ASSERT_TRUE(DrawStatusLine());  // a never started timer is due at once
  // Straight after: not due, nothing sent, only a millisecond passes.
  const uint64_t t0 = vt::NowUs();
  EXPECT_FALSE(DrawStatusLine());
  EXPECT_EQ(vt::NowUs() - t0, 1000u);
  EXPECT_EQ(Lines().size(), 1u);

  int refreshed = 1;
  while (vt::NowUs() < 5'000'000) refreshed += DrawStatusLine() ? 1 : 0;
  const auto lines = Lines();
  const auto times = vt::WrittenLineTimes(1);
  ASSERT_EQ(lines.size(), static_cast<size_t>(refreshed));
  EXPECT_GE(lines.size(), 9u);
  EXPECT_LE(lines.size(), 10u);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], i % 2 == 0 ? "RD DM200" : "RD 1915") << i;
    if (i > 0) {
      // Due after 51 hundredths of the clock, measured from the last start.
      EXPECT_GT(times[i] - times[i - 1], 500'000u) << i;
      EXPECT_LT(times[i] - times[i - 1], 520'000u) << i;
    }
  }
}

TEST_F(StatusLineTest, StatusWordAndReadyFromOddAnswers) {
  struct Case {
    std::string answer;
    uint16_t sysStat;
    std::string shown;  // the text after "SysStat $"
  };
  const Case cases[] = {
      {"12A4", 1204, "04B4"},     // non-digits count as 0
      {"", 0, "0000"},            // silent controller
      {"32773", 0x8005, "-0005"}, // bit 15 shows as a sign
      {"06699", 0x1A2B, "1A2B"},
      {"E1", 1, "0001"},          // an error answer: "01"
  };
  for (const Case& c : cases) {
    vt::ScriptedPeer::Rule rule{c.answer};
    rule.silent = c.answer.empty();
    peer.On("RD DM200", rule);
    StatusPollPhase = 2;
    vt::AdvanceUs(600'000);
    ASSERT_TRUE(DrawStatusLine()) << c.answer;
    EXPECT_EQ(SysStat, c.sysStat) << c.answer;
    EXPECT_EQ(Text(54, 1, static_cast<int>(c.shown.size())), c.shown) << c.answer;
    // The time still ends in the last column.
    EXPECT_EQ(Text(73, 1, 3), "14:") << c.answer;
    EXPECT_EQ(Text(78, 1, 1), ":") << c.answer;
  }

  // Relay answers other than exactly "1" are off, a silent one included.
  const char* offAnswers[] = {"0", "1 ", "11", "E0"};
  for (const char* a : offAnswers) {
    peer.On("RD 1915", a);
    ReadyFlag = true;
    StatusPollPhase = 1;
    vt::AdvanceUs(600'000);
    ASSERT_TRUE(DrawStatusLine());
    EXPECT_FALSE(ReadyFlag) << a;
  }
  peer.On("RD 1915", vt::ScriptedPeer::Rule{"", false, true});
  ReadyFlag = true;
  StatusPollPhase = 1;
  vt::AdvanceUs(600'000);
  ASSERT_TRUE(DrawStatusLine());
  EXPECT_FALSE(ReadyFlag);
  EXPECT_EQ(Text(58, 1, 11), "    Ready 0");
}

TEST_F(StatusLineTest, EscWhileDueDrawsNothingAndLeavesTheQuestion) {
  peer.On("RD DM200", "00001");
  vt::PushKeys("\x1b");
  EXPECT_FALSE(DrawStatusLine());
  EXPECT_TRUE(Lines().empty());
  EXPECT_EQ(Text(1, 1, 80), std::string(80, ' '));
  EXPECT_TRUE(EscAbort);

  Keys(10, "n");
  EXPECT_FALSE(CheckQuit(1));
  EXPECT_FALSE(EscAbort);
  EXPECT_TRUE(DrawStatusLine());
}

TEST_F(StatusLineTest, WidestNumbersStayOnRowOne) {
  SerialNumber = -2147483647 - 1;
  ComPort = 1;
  StatusPollPhase = 2;
  peer.On("RD DM200", "32773");
  Window(10, 5, 70, 20);
  ASSERT_TRUE(DrawStatusLine());
  EXPECT_EQ(Text(1, 1, 21), "Vekton  # -2147483648");
  EXPECT_EQ(Text(1, 2, 80), std::string(80, ' '));
  EXPECT_EQ(WindMin(), 0x0409);
}

TEST_F(StatusLineTest, ClimateLineEveryMinuteWhileLogging) {
  int round = 0;
  const char* temps[] = {"32769", "00235", "32768", "00000"};
  peer.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule& r) {
    if (line == "RD DM200") r.answer = "00000";
    else if (line == "RD 1915") r.answer = "0";
    else if (line == "RD DM982") r.answer = temps[round++ % 4];
    else if (line == "RD DM983") r.answer = "00456";
    else if (line == "RD DM984") r.answer = "04000";
    else if (line == "RD DM985") r.answer = "00007";
    else return false;
    return true;
  });

  // Without a result file no climate word is read.
  while (vt::NowUs() < 40'000'000) UpdateStatusLine();
  for (const auto& l : Lines()) EXPECT_TRUE(IsStatusPoll(l)) << l;

  ASSERT_EQ(TextFileCreateNew(ResultFile, "1234_00.spf"), 0);
  LogToFile = true;
  vt::ClearWritten(1);
  const uint64_t start = vt::NowUs();
  while (vt::NowUs() < start + 200'000'000) UpdateStatusLine();

  EXPECT_EQ(vt::FileLines("1234_00.spf"),
            (std::vector<std::string>{" -0.1 45.6 40.0  7.0", " 23.5 45.6 40.0  7.0", "3276.8 45.6 40.0  7.0"}));
  EXPECT_EQ(ClimateText[0], "3276.8");

  // One climate word every 15 s, in order, riding on the status polls.
  const auto lines = Lines();
  const auto times = vt::WrittenLineTimes(1);
  std::vector<std::string> climate;
  std::vector<uint64_t> lineEnds;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (IsStatusPoll(lines[i])) continue;
    climate.push_back(lines[i]);
    if (lines[i] == "RD DM985") lineEnds.push_back(times[i]);
    ASSERT_GT(i, 0u);
    EXPECT_TRUE(IsStatusPoll(lines[i - 1]));
  }
  ASSERT_GE(climate.size(), 12u);
  for (size_t i = 0; i < climate.size(); ++i)
    EXPECT_EQ(climate[i], "RD DM" + std::to_string(982 + i % 4)) << i;
  ASSERT_EQ(lineEnds.size(), 3u);
  for (size_t i = 1; i < lineEnds.size(); ++i) {
    EXPECT_GT(lineEnds[i] - lineEnds[i - 1], 60'000'000u);
    EXPECT_LT(lineEnds[i] - lineEnds[i - 1], 62'500'000u);
  }
}

TEST_F(StatusLineTest, ClearWorkAreaClearsTheWindowAndRefreshes) {
  peer.On("RD DM200", "00003");
  WriteText("junk");
  ClearWorkArea();
  EXPECT_EQ(Text(1, 1, 10), "Vekton  # ");
  EXPECT_EQ(WhereX(), 1);
  EXPECT_EQ(WhereY(), 2);
  // Within half a second row 1 stays as cleared.
  ClearWorkArea();
  EXPECT_EQ(Text(1, 1, 80), std::string(80, ' '));
  EXPECT_EQ(Lines().size(), 1u);
}

// --- the quit question -----------------------------------------------------------

TEST_F(StatusLineTest, CheckQuitAnswers) {
  struct Case {
    const char* keys;
    bool result;
  };
  const Case cases[] = {{"\x1bQ", true}, {"\x1by", true}, {"\x1bN", false}, {"\x1b ", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys);
    ClrScr();
    Window(10, 1, 70, 25);
    GotoXY(7, 12);
    TextColor(1);
    TextBackground(7);
    const unsigned bells = gScreen.bellCount;
    Keys(0, std::string_view(c.keys, 1));
    Keys(10, c.keys + 1);
    KeyBuffer = "ab";
    EXPECT_EQ(CheckQuit(1), c.result);
    EXPECT_EQ(QuitRequested, c.result);
    EXPECT_FALSE(EscAbort);
    EXPECT_TRUE(KeyBuffer.empty());
    EXPECT_EQ(gScreen.bellCount, bells + 1);
    // The question on the full screen's row 1, yellow on green.
    EXPECT_EQ(Text(1, 1, 13), " Quit/Term ? ");
    EXPECT_TRUE(Colours(1, 1, 13, 14, 2));
    EXPECT_TRUE(Colours(14, 1, 1, 1, 7));
    EXPECT_EQ(WindMin(), 0x0009);
    EXPECT_EQ(WindMax(), 0x1845);
    EXPECT_EQ(WhereX(), 7);
    EXPECT_EQ(WhereY(), 12);
    EXPECT_EQ(TextAttr(), 0x71);
    QuitRequested = false;
  }
  EXPECT_TRUE(Lines().empty());
}

TEST_F(StatusLineTest, CheckQuitWithoutEscAsksNothing) {
  vt::PushKeys("x");
  EXPECT_FALSE(CheckQuit(1));
  EXPECT_EQ(KeyBuffer, "x");
  EXPECT_EQ(Text(1, 1, 80), std::string(80, ' '));

  // Already asked to quit: true at once, the Esc left for the caller.
  QuitRequested = true;
  vt::PushKeys("\x1b");
  EXPECT_TRUE(CheckQuit(1));
  EXPECT_TRUE(EscAbort);
  EXPECT_EQ(gScreen.bellCount, 0u);
}

TEST_F(StatusLineTest, CheckQuitTerminalGivesTheWindowBack) {
  Window(10, 1, 70, 25);
  GotoXY(4, 9);
  Keys(0, "\x1b");
  Keys(10, "t");
  Keys(300, "\x1b");  // Esc at the terminal's first input row
  EXPECT_FALSE(CheckQuit(1));
  EXPECT_FALSE(QuitRequested);
  EXPECT_FALSE(EscAbort);
  EXPECT_TRUE(Lines().empty());
  // The terminal leaves the whole screen cleared in the normal colours.
  EXPECT_EQ(Text(1, 3, 80), std::string(80, ' '));
  EXPECT_TRUE(Colours(1, 12, 80, 1, 7));
  EXPECT_EQ(WindMin(), 0x0009);
  EXPECT_EQ(WindMax(), 0x1845);
  EXPECT_EQ(WhereX(), 4);
  EXPECT_EQ(WhereY(), 9);
  EXPECT_EQ(vt::PendingKeys(), 0u);
}

// --- waits ---------------------------------------------------------------------------

TEST_F(StatusLineTest, WaitRelayOnReadyUsesTheStatusPollsOnly) {
  peer.On("RD DM1", "00005");
  peer.On("RD DM200", "00000");
  peer.OnAny([](const std::string& line, vt::ScriptedPeer::Rule& r) {
    if (line != "RD 1915") return false;
    r.answer = vt::NowUs() > 2'000'000 ? "1" : "0";
    return true;
  });
  GotoXY(1, 5);
  WaitReadyRelay(1);
  EXPECT_TRUE(ReadyFlag);
  EXPECT_EQ(LastRotPos, 5);
  EXPECT_EQ(Text(1, 5, 3), " 5 ");
  const auto lines = Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "RD DM1");
  for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], i % 2 == 1 ? "RD DM200" : "RD 1915") << i;
  EXPECT_EQ(lines.back(), "RD 1915");
  EXPECT_LT(vt::NowUs(), 3'200'000u);
}

TEST_F(StatusLineTest, WaitRelayOnOtherRelayReadsItEveryStep) {
  peer.On("RD DM1", "00003");
  peer.On("RD DM200", "00000");
  peer.On("RD 1915", "0");
  peer.OnAny([](const std::string& line, vt::ScriptedPeer::Rule& r) {
    if (line != "RD 1815") return false;
    r.answer = vt::NowUs() > 2'000'000 ? "1" : "0";
    return true;
  });
  WaitPlateReady(1);
  const auto lines = Lines();
  const auto times = vt::WrittenLineTimes(1);
  ASSERT_EQ(lines[0], "RD DM1");
  std::vector<uint64_t> reads;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (IsStatusPoll(lines[i])) continue;
    EXPECT_EQ(lines[i], "RD 1815");
    reads.push_back(times[i]);
  }
  EXPECT_EQ(lines.back(), "RD 1815");
  // One read per step: 100 ms, plus the exchange, plus a status poll now and then.
  ASSERT_GE(reads.size(), 10u);
  for (size_t i = 1; i < reads.size(); ++i) {
    EXPECT_GE(reads[i] - reads[i - 1], 150'000u) << i;
    EXPECT_LE(reads[i] - reads[i - 1], 215'000u) << i;
  }
  EXPECT_LT(vt::NowUs() - reads.back(), 60'000u);
}

TEST_F(StatusLineTest, WaitReadyEndsOnlyOnQuit) {
  peer.On("RD DM200", "00000");
  peer.On("RD 1915", "0");
  // The answer comes a moment after the Esc, as typed by hand: keys already
  // waiting when the question is put are dropped.
  vt::PushKeysAt(2'000'000, "\x1b");
  vt::PushKeysAt(2'200'000, "N");  // go on waiting
  vt::PushKeysAt(4'000'000, "\x1b");
  vt::PushKeysAt(4'200'000, "Q");
  WaitReady(1);
  EXPECT_TRUE(QuitRequested);
  EXPECT_FALSE(ReadyFlag);
  EXPECT_GE(vt::NowUs(), 4'200'000u);
  EXPECT_LT(vt::NowUs(), 4'300'000u);
  for (const auto& l : Lines()) EXPECT_TRUE(IsStatusPoll(l)) << l;
  EXPECT_GE(Lines().size(), 7u);

  // A ready store ends the wait at the first Ready poll.
  QuitRequested = false;
  peer.On("RD 1915", "1");
  vt::ClearWritten(1);
  WaitReady(1);
  EXPECT_TRUE(ReadyFlag);
  EXPECT_EQ(Lines().back(), "RD 1915");
  EXPECT_LE(Lines().size(), 2u);
}

// --- countdown ---------------------------------------------------------------------

TEST_F(StatusLineTest, CountDownShowsEverySecondInPlace) {
  std::vector<std::string> seen;
  std::vector<int> cursorAt;
  peer.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule& r) {
    // Each pass polls once; what it shows then is the count just written,
    // with the cursor back at its start.
    seen.push_back(gScreen.Text(10, 6, 5));
    cursorAt.push_back(gScreen.curX);
    r.answer = line == "RD DM200" ? "00000" : "0";
    return true;
  });
  vt::SetTimeOfDay(14, 3, 9, 50);
  const uint64_t start = vt::NowUs();
  GotoXY(10, 6);
  EXPECT_EQ(CountDown(1, 12), 0);
  const double took = Seconds(vt::NowUs() - start);

  ASSERT_EQ(seen.size(), 13u);
  for (int i = 0; i < 13; ++i) {
    const int n = 12 - i;
    EXPECT_EQ(seen[static_cast<size_t>(i)], (n < 10 ? " " : "") + std::to_string(n) + " s ") << i;
    EXPECT_EQ(cursorAt[static_cast<size_t>(i)], 10) << i;
  }
  EXPECT_EQ(Text(10, 6, 5), " 0 s ");
  EXPECT_EQ(WhereX(), 14);
  // Thirteen changes of the second, the first half a second away.
  EXPECT_GT(took, 12.5);
  EXPECT_LT(took, 12.6);
}

TEST_F(StatusLineTest, CountDownZeroAndQuit) {
  peer.On("RD DM200", "00000");
  GotoXY(20, 8);
  const uint64_t start = vt::NowUs();
  EXPECT_EQ(CountDown(1, 0), 0);
  EXPECT_EQ(Text(20, 8, 4), "0 s ");
  EXPECT_EQ(WhereX(), 23);
  const double took = Seconds(vt::NowUs() - start);
  EXPECT_GT(took, 0.99);
  EXPECT_LT(took, 1.1);

  // Esc and Q in the middle end it early, with the zero shown.
  Keys(3500, "\x1b");
  Keys(3600, "q");
  GotoXY(20, 9);
  const uint64_t t1 = vt::NowUs();
  EXPECT_EQ(CountDown(1, 30), 0);
  EXPECT_TRUE(QuitRequested);
  EXPECT_EQ(Text(20, 9, 5), " 0 s ");
  EXPECT_LT(Seconds(vt::NowUs() - t1), 4.6);

  // With quit already requested it does not start.
  GotoXY(20, 10);
  EXPECT_EQ(CountDown(1, 5), 27);
  EXPECT_EQ(Text(20, 10, 5), "     ");
}
