// The macros screen: help table and live flags, the echo and result rows,
// every single-command key, type-ahead, and the two guided accesses in their
// own window and colours.
#include <string>
#include <utility>
#include <vector>

#include "platform/System.h"
#include "tests/screens/MonitorMacrosFixture.h"

class MacrosTest : public MonMacTest {
 protected:
  void SetUp() override {
    MonMacTest::SetUp();
    DosVersionNumber = DosVersion();
    answers["RD DM200"] = "00000";
    answers["RD 1814"] = "0";
    answers["RD 1815"] = "1";
    answers["RD 1915"] = "1";
    for (const char* c : {"ST 1801", "ST 1902", "ST 1903", "RS 1907", "RS 1810", "ST 1901", "ST 1810",
                          "ST 1900", "ST 1907", "ST 1908", "ST 1909"})
      answers[c] = "OK";
    Window(10, 1, 70, 25);  // as the menu leaves it; the screen takes the whole screen
  }
  // Everything sent from the first pass on, without the status polls.
  static std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const std::string& l : Wire())
      if (l != "RD DM200") out.push_back(l);
    return out;
  }
  static bool Colours(int x, int y, int fg, int bg) { return gScreen.Fg(x, y) == fg && gScreen.Bg(x, y) == bg; }
  // Hands each blocking key read the next entry; the screen as it stood is kept.
  void Feed(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    vt::SetKeyFeeder([this] {
      fed.push_back(Rows());
      fedScreens.push_back(gScreen);
      if (fed.size() > steps_.size()) return false;
      vt::PushKeys(steps_[fed.size() - 1]);
      return true;
    });
  }
  std::vector<std::vector<std::string>> fed;
  std::vector<ScreenModel> fedScreens;
  // The guided window's text: columns 8 to 72 of a row, trailing blanks cut.
  static std::string Win(const std::string& row) {
    std::string s = row.substr(7, 65);
    return s.erase(s.find_last_not_of(' ') + 1);
  }
  // The window (columns 8 to 72, rows 18 to 25) in fg on bg, the screen
  // around it untouched in 1 on 7.
  static bool WindowColours(const ScreenModel& m, int fg, int bg) {
    for (int y = 18; y <= 25; ++y)
      for (int x = 8; x <= 72; ++x)
        if (m.Fg(x, y) != fg || m.Bg(x, y) != bg) return false;
    return m.Bg(7, 20) == 7 && m.Bg(73, 20) == 7 && m.Bg(40, 17) == 7;
  }

 private:
  std::vector<std::string> steps_;
};

TEST_F(MacrosTest, IdlePassesShowTheTableAndReadThreeFlags) {
  std::vector<std::string> atPass3;
  onLine = [&](const std::string& line, int n) {
    if (line == "RD 1814" && n == 3) atPass3 = Rows();
  };
  When("RD 1814", 3, "\x1b");
  Macros();

  EXPECT_EQ(Wire().front(), "RD DM200");
  EXPECT_EQ(Commands(), (std::vector<std::string>{"RD 1814", "RD 1815", "RD 1915", "RD 1814", "RD 1815",
                                                  "RD 1915", "RD 1814"}));
  const auto times = vt::WrittenLineTimes(1);
  EXPECT_GE(times[4] - times[1], 300'000u);  // each pass rests 300 ms

  const char* help[] = {"Function           Command    Key", "", "Rot. Position      WR DM0 x  1..9",
                        "Enable Rotation    WR DM0 0     0", "Gate Open          ST 1901      O",
                        "Gate Close         ST 1902      C", "End Access         ST 1903      E",
                        "BCR                RS 1909      B", "CarAct ON          ST 1801      A",
                        "System Reset       ST 1900      R", "", "Quit               --         esc"};
  auto trim = [](std::string r) { return r.erase(r.find_last_not_of(' ') + 1); };
  for (int i = 0; i < 12; ++i) EXPECT_EQ(trim(atPass3[static_cast<size_t>(i + 2)]), help[i]) << "row " << i + 2;
  EXPECT_EQ(trim(atPass3[18]), "ErrorFlag  [1814] 0");
  EXPECT_EQ(trim(atPass3[19]), "PlateReady [1815] 1");
  EXPECT_EQ(trim(atPass3[20]), "Ready      [1915] 1");
  EXPECT_EQ(trim(atPass3[21]), "");
  EXPECT_EQ(atPass3[22].substr(0, 19), "Please Select ->   ");
  EXPECT_EQ(trim(atPass3[23]), "");  // no key: no echo
  EXPECT_EQ(trim(atPass3[24]), "");
  EXPECT_TRUE(Colours(1, 2, 1, 7));
}

TEST_F(MacrosTest, KeysEchoTheirCodeLess48AndRunTheirCommand) {
  // One key per pass: a digit, then every single-command key ('o' in lower
  // case), the last two typed together so that the second waits a pass.
  const std::vector<std::pair<std::string, std::string>> keys = {
      {"5", ""},           {"o", "ST 1901"}, {"A", "ST 1801"}, {"C", "ST 1902"}, {"F", "RS 1907"},
      {"L", "RS 1810"},    {"P", "ST 1810"}, {"R", "ST 1900"}, {"S", "ST 1907"}, {"CE", "ST 1902"},
      {"", "ST 1903"}};
  std::vector<std::vector<std::string>> after;  // the screen as the next pass begins
  onLine = [&](const std::string& line, int) {
    if (line == "RD 1814") after.push_back(Rows());
  };
  for (size_t i = 0; i < keys.size(); ++i)
    if (!keys[i].first.empty()) When("RD 1915", static_cast<int>(i) + 1, keys[i].first);
  When("RD 1814", static_cast<int>(keys.size()) + 1, "\x1b");
  Macros();

  std::vector<std::string> expected;
  for (const auto& k : keys) {
    for (const char* r : {"RD 1814", "RD 1815", "RD 1915"}) expected.push_back(r);
    if (!k.second.empty()) expected.push_back(k.second);
  }
  expected.push_back("RD 1814");
  EXPECT_EQ(Commands(), expected);

  auto trim = [](std::string r) { return r.erase(r.find_last_not_of(' ') + 1); };
  ASSERT_EQ(after.size(), keys.size() + 1);
  EXPECT_EQ(trim(after[1][23]), "5");
  EXPECT_EQ(trim(after[1][24]), "");
  EXPECT_EQ(trim(after[2][23]), "31");
  EXPECT_EQ(trim(after[2][24]), "O  ST 1901 OK");
  EXPECT_EQ(trim(after[3][24]), "A  ST 1801 OK");
  EXPECT_EQ(trim(after[5][24]), "F  RS 1907 OK");
  EXPECT_EQ(trim(after[10][23]), "19");  // C of "CE"
  EXPECT_EQ(trim(after[11][23]), "21");  // E, a pass later
  EXPECT_EQ(trim(after[11][24]), "E  ST 1903 OK");
}

TEST_F(MacrosTest, GuidedPutWaitsForReadyThenAsksInItsOwnWindow) {
  // Ready is off until the third poll of the wait.
  answers["RD 1915"] = "0";
  answers["WR DM0 12"] = "OK";
  answers["WR DM5 3"] = "OK";
  std::vector<std::string> atSet;
  onLine = [&](const std::string& line, int n) {
    if (line == "RD 1915" && n == 3) answers["RD 1915"] = "1";
    if (line == "ST 1909") atSet = Rows();
  };
  When("RD 1915", 1, "b");
  When("RD 1814", 2, "\x1b");
  Feed({"x\r", "12\r", "3\r"});  // a non-number is asked for again
  Macros();

  // The wait polls every 200 ms until Ready (the second poll); only then
  // does the window open (the status line takes its turn on Ready) and ask.
  const std::vector<std::string> c = Commands();
  ASSERT_GE(c.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(c.begin() + 3, c.end()),
            (std::vector<std::string>{"RD 1915", "RD 1915", "RD 1915", "WR DM0 12", "WR DM5 3", "ST 1909", "RD 1814"}));
  const auto wire = Wire();
  const auto times = vt::WrittenLineTimes(1);
  ASSERT_EQ(wire[3], "RD 1915");  // the pass's own read of Ready
  EXPECT_GE(times[4] - times[3], 500'000u);  // the pass's rest, then the wait's first step
  EXPECT_GE(times[5] - times[4], 200'000u);

  ASSERT_EQ(fed.size(), 3u);
  EXPECT_TRUE(WindowColours(fedScreens[0], 7, 1));
  EXPECT_EQ(Win(fed[0][20]), "  Cassette Number :");
  EXPECT_EQ(Win(fed[1][20]), "  Cassette Number : x");
  EXPECT_EQ(Win(fed[1][21]), "Not a number from -2147483648 to 2147483647");
  EXPECT_EQ(Win(fed[1][22]), "  Cassette Number :");
  EXPECT_EQ(Win(fed[2][23]), "OK");
  EXPECT_EQ(Win(fed[2][25]), "  Level Number :");
  // The last line ends scroll the window's text up by two rows.
  ASSERT_FALSE(atSet.empty());
  EXPECT_EQ(Win(atSet[18]), "Not a number from -2147483648 to 2147483647");
  EXPECT_EQ(Win(atSet[19]), "  Cassette Number : 12");
  EXPECT_EQ(Win(atSet[20]), "OK");
  EXPECT_EQ(Win(atSet[22]), "  Level Number : 3");
  EXPECT_EQ(Win(atSet[23]), "OK");

  // Back at the entry: normal colours, full redraw.
  EXPECT_EQ(TextAttr(), 0x71);
  EXPECT_EQ(Row(2), "Function           Command    Key");
  EXPECT_TRUE(Colours(8, 20, 1, 7));
}

TEST_F(MacrosTest, EscAtANumberPromptAbandonsTheAccess) {
  DosVersionNumber = 0x0005;  // an old system: black on grey, then grey on black
  When("RD 1915", 1, "B");
  When("RD 1814", 2, "\x1b");
  Feed({"7\x1b"});
  Macros();
  EXPECT_TRUE(WindowColours(fedScreens[0], 0, 7));
  for (const std::string& l : Commands()) EXPECT_TRUE(l.rfind("RD ", 0) == 0) << l;  // nothing written or set
  EXPECT_EQ(TextAttr(), 0x07);
  EXPECT_EQ(Row(2), "Function           Command    Key");
}

TEST_F(MacrosTest, GuidedTakeAndReadShowsDm120ThenDm121UntilC) {
  answers["WR DM0 4"] = "OK";
  answers["RD DM120"] = "01200";
  answers["RD DM121"] = "01210";
  When("RD 1915", 1, "i");
  When("RD 1814", 2, "\x1b");
  Feed({"4\r", "x", "c"});  // only c (or C, or Esc) ends the wait
  Macros();

  const std::vector<std::string> c = Commands();
  ASSERT_GE(c.size(), 10u);  // the first "RD 1915" after the pass is the status line's
  EXPECT_EQ(std::vector<std::string>(c.begin() + 3, c.begin() + 9),
            (std::vector<std::string>{"RD 1915", "WR DM0 4", "RD 1915", "ST 1908", "RD DM121", "RD DM120"}));
  EXPECT_EQ(c.back(), "RD 1814");
  ASSERT_EQ(fed.size(), 3u);
  EXPECT_TRUE(WindowColours(fedScreens[1], 7, 1));
  EXPECT_EQ(Win(fed[1][20]), "  Cassette Number : 4");
  EXPECT_EQ(Win(fed[1][21]), "OK");
  EXPECT_EQ(Win(fed[1][22]), "01200 01210");
  EXPECT_EQ(Win(fed[1][23]), "Press c to continue");
  EXPECT_EQ(TextAttr(), 0x71);
  EXPECT_EQ(Row(2), "Function           Command    Key");
}

TEST_F(MacrosTest, EscEndsThePressCWaitAndTheScreen) {
  DosVersionNumber = 0x0005;
  When("RD 1915", 1, "I");
  Feed({"4\r", "\x1b"});
  Macros();  // returns: the Esc also ends the screen after its redraw
  ASSERT_EQ(fed.size(), 2u);
  EXPECT_TRUE(WindowColours(fedScreens[1], 0, 15));
  EXPECT_EQ(Commands().back(), "RD DM120");  // nothing goes out once Esc is in
  EXPECT_EQ(TextAttr(), 0x0F);
  EXPECT_EQ(Row(2), "Function           Command    Key");
}

TEST(MacrosPlatform, TheVersionWordPicksTheModernColours) {
  EXPECT_GT(DosVersion() & 0xFF, 6);
}
