// The component test menu and the carousel movement test: the menu's lines
// and its closing DM123 write, the move lines (path, counting, errors, the
// largest deviation), the summary, and the ways out (quit, Esc, prompts).
#include "tests/components/TeachMenuFixture.h"

namespace {

class Carrousel : public CarrouselTest {
 protected:
  void SetUp() override {
    CarrouselTest::SetUp();
    // The move lines are cleared before the summary: keep the fullest view
    // of the work area while the moves ran.
    onHeard = [this](const std::string& line) {
      if (onLine) onLine(line);
      auto now = ScreenLines(true);
      size_t first = 0;
      while (first < now.size() && now[first].find(" Pos: ") == std::string::npos) ++first;
      if (first == now.size()) return;
      now.erase(now.begin(), now.begin() + static_cast<long>(first));
      if (now.size() >= moves.size()) moves = now;
    };
  }
  // The taught times close to the controller's, except the move over seven.
  static void Teach(const std::function<int(int)>& moveTime) {
    for (int k = 0; k < 9; ++k) PosTimeTable[k] = moveTime(k) + 3;
    PosTimeTable[7] = 0;
  }
  // The summary, from its title on.
  static std::vector<std::string> Summary() {
    auto lines = ScreenLines();
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find("Rotation Access Time Summary") != std::string::npos)
        return std::vector<std::string>(lines.begin() + static_cast<long>(i), lines.end());
    return {};
  }
  std::vector<std::string> moves;
  std::function<void(const std::string&)> onLine;
};

constexpr const char* kIndent = "                   ";  // column 11 of the banner window

// The random targets from the program's start are 8, 2, 3, 3, 4, 8, 2, ...
TEST_F(Carrousel, PauseRangeZeroCountsErrorsDoubleSpacedAndSkipsPathZero) {
  Teach(moveTime);
  EscOn("RD DM1", 15);  // while the eighth move looks where the carousel is
  Type({"0\r", "q", "x"});
  ASSERT_TRUE(Run(CarrouselMovementTest));
  EXPECT_EQ(LastKey, 'x');
  EXPECT_EQ(StepsTyped(), 3u);

  // Path 0 (target 3 at 3) sends nothing.
  EXPECT_EQ(CommandsStartingWith("WR DM0"),
            (std::vector<std::string>{"WR DM0 1", "WR DM0 8", "WR DM0 2", "WR DM0 3", "WR DM0 4", "WR DM0 8",
                                      "WR DM0 2"}));
  EXPECT_EQ(Commands().front(), "ST 1801");

  // " max: " is the largest deviation so far: the move over seven had no
  // taught time, so its whole second is the deviation and an error.
  ASSERT_GE(moves.size(), 11u);
  EXPECT_EQ(moves[0], "   1 Pos: 8 Pth: 7 wt:  0 t0: 0.0  t1: 1.0 te: 1.0 Ers:  1 max: 1.0");
  EXPECT_EQ(moves[1], "");
  EXPECT_EQ(moves[2], "   2 Pos: 2 Pth: 3 wt:  0 t0: 0.6  t1: 0.6 te: 0.0 Ers:  1 max: 1.0");
  EXPECT_EQ(moves[4], "   3 Pos: 3 Pth: 1 wt:  0 t0: 0.4  t1: 0.4 te: 0.0 Ers:  1 max: 1.0");
  // Not counted: te 0.0, and the next line repeats its number.
  EXPECT_EQ(moves[6], "   4 Pos: 3 Pth: 0 wt:  0 t0: 0.0  t1: 0.1 te: 0.0 Ers:  1 max: 1.0");
  EXPECT_EQ(moves[8], "   4 Pos: 4 Pth: 1 wt:  0 t0: 0.4  t1: 0.4 te: 0.0 Ers:  1 max: 1.0");
  EXPECT_EQ(moves[10], "   5 Pos: 8 Pth: 4 wt:  0 t0: 0.7  t1: 0.7 te: 0.0 Ers:  1 max: 1.0");

  // Six counted moves (1.0, 0.6, 0.4, 0.4, 0.7, 0.6 s); the eighth was cut
  // short by the Esc and is not counted.
  auto summary = Summary();
  ASSERT_EQ(summary.size(), 7u);
  EXPECT_EQ(summary[0], std::string(kIndent) + "Rotation Access Time Summary");
  EXPECT_EQ(summary[1], std::string(kIndent) + "Access Procedure:   Sequence");
  EXPECT_EQ(summary[2], std::string(kIndent) + "Total Accesses:           6");
  EXPECT_EQ(summary[3], std::string(kIndent) + "Min Acs Time:        0.4");
  EXPECT_EQ(summary[4], std::string(kIndent) + "Max Acs Time:        1.0");
  EXPECT_EQ(summary[5], std::string(kIndent) + "Mean Acs Time:       0.6");
  EXPECT_EQ(summary[6], "         " + std::string(55, '_'));
}

TEST_F(Carrousel, TheTestWorksOnARingOfNineFromWhereTheCarrouselStands) {
  // The carousel reports position 7 whatever it was sent to.
  onLine = [this](const std::string& line) {
    if (line == "RD DM1") pos = 7;
  };
  EscOn("RD DM1", 5);
  Type({"0\r", "q", "x"});
  ASSERT_TRUE(Run(CarrouselMovementTest));
  ASSERT_GE(moves.size(), 3u);
  EXPECT_EQ(moves[0].substr(0, 17), "   1 Pos: 8 Pth: ");
  EXPECT_EQ(moves[0].substr(17, 1), "1");
  EXPECT_EQ(moves[2].substr(0, 18), "   2 Pos: 2 Pth: 4");  // 2 from 7: 7, 8, 9, 1, 2
}

TEST_F(Carrousel, APauseRangeAboveZeroWritesSingleLinesWithoutErrors) {
  Teach(moveTime);
  EscOn("RD DM1", 5);
  Type({"2\r", "q", "x"});
  const uint64_t start = vt::NowUs();
  ASSERT_TRUE(Run(CarrouselMovementTest));
  ASSERT_GE(moves.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(moves[i].find(" Ers: "), std::string::npos) << moves[i];
    EXPECT_NE(moves[i].find(" max: "), std::string::npos) << moves[i];
  }
  EXPECT_EQ(moves[0].substr(0, 24), "   1 Pos: 8 Pth: 7 wt:  ");
  EXPECT_EQ(moves[0].substr(moves[0].size() - 16), "te: 1.0 max: 1.0");
  EXPECT_LT(vt::NowUs() - start, 30'000'000u);
}

TEST_F(Carrousel, NoCountedMoveShowsTheEmptyFigures) {
  moveTime = [](int) { return 250; };  // every move too slow to count
  EscOn("RD DM1", 5);
  Type({"0\r", "q", "x"});
  ASSERT_TRUE(Run(CarrouselMovementTest));
  ASSERT_GE(moves.size(), 1u);
  EXPECT_EQ(moves[0].substr(0, 19), "   1 Pos: 8 Pth: 7 ");
  EXPECT_NE(moves[0].find(" te: 0.0 Ers:  0 max: 0.0"), std::string::npos) << moves[0];
  auto summary = Summary();
  ASSERT_EQ(summary.size(), 7u);
  EXPECT_EQ(summary[2], std::string(kIndent) + "Total Accesses:           0");
  EXPECT_EQ(summary[3], std::string(kIndent) + "Min Acs Time:       21474836.5");
  EXPECT_EQ(summary[4], std::string(kIndent) + "Max Acs Time:        0.0");
  EXPECT_EQ(summary[5], std::string(kIndent) + "Mean Acs Time:       0.0");
}

// The T20 waits poll back to back with no Esc check of their own; once Esc
// has set EscAbort the contact can never be seen again. They end instead,
// and the move reaches the quit question.
TEST_F(Carrousel, EscEndsAWaitForT20AndReachesTheQuitQuestion) {
  EscOn("WR DM0 8", 1);
  moveTime = [](int d) { return d == 0 ? 0 : 100000; };  // a carousel that never settles
  Type({"0\r", "q", "x"});
  const uint64_t start = vt::NowUs();
  ASSERT_TRUE(Run(CarrouselMovementTest));
  EXPECT_EQ(StepsTyped(), 3u);  // the question was asked and the summary shown
  EXPECT_TRUE(QuitRequested);
  EXPECT_LT(vt::NowUs() - start, 10'000'000u);
  EXPECT_EQ(Summary().size(), 7u);
}

TEST_F(Carrousel, EscEndsTheWaitForThePositionOneAsWell) {
  moveTime = [](int) { return 100000; };
  pos = 5;  // the first command (to position 1) starts a move that never ends
  EscOn("RD T20", 3);
  Type({"0\r", "q", "x"});
  ASSERT_TRUE(Run(CarrouselMovementTest));
  EXPECT_EQ(StepsTyped(), 3u);
  EXPECT_EQ(Summary().size(), 7u);
}

TEST_F(Carrousel, PromptsAskAgainAndEscLeavesWithoutMoving) {
  Type({"abc\r", "-3\r", "\x1b"});
  ASSERT_TRUE(Run(CarrouselMovementTest));
  EXPECT_TRUE(Commands().empty());
  auto lines = ScreenLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Enter Pause range 0..x s abc");
  EXPECT_EQ(lines[1], "Not a number from -2147483648 to 2147483647");
  EXPECT_EQ(lines[2], "Enter Pause range 0..x s -3");
  EXPECT_EQ(lines[3], "The pause range is 0 s or more");
  EXPECT_EQ(lines[4], "Enter Pause range 0..x s");
}

class Menu : public Carrousel {};

const std::vector<std::string> kMenuLines = {
    "Carrousel Movement  1", "Plate Movement      2", "Stack Movement      3",
    "Lift Movement       4", "Gate Movement       5", "Shovel Movement     6",
    "Turn Movement       7", "Error Counters      8", "SMC 1 Movement      9",
    "Select now",
};

TEST_F(Menu, ShowsItsLinesWritesDm123AfterEveryChoiceAndLeavesOnEsc) {
  std::vector<std::vector<std::string>> shown;
  vt::SetKeyFeeder([&] {
    shown.push_back(ScreenLines(true));
    static const char* keys[] = {"3", "z", "\x1b"};
    if (shown.size() > 3) return false;
    vt::PushKeys(keys[shown.size() - 1]);
    return true;
  });
  ASSERT_TRUE(Run(ComponentTestMenu));
  ASSERT_EQ(shown.size(), 3u);
  std::vector<std::string> expected = {""};
  expected.insert(expected.end(), kMenuLines.begin(), kMenuLines.end() - 1);
  expected.push_back("");
  expected.push_back("Select now");
  EXPECT_EQ(shown[0], expected);
  EXPECT_EQ(shown[2], expected);
  EXPECT_EQ(LastKey, 27);
  // Key 3 and an unknown key: the write alone. Esc: not even that, the
  // abort stops the exchange.
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM123 0", "WR DM123 0"}));
}

// A quit answered in one test must not end the next test of the same visit
// before it starts.
TEST_F(Menu, AQuitInOneTestDoesNotEndTheNext) {
  Teach(moveTime);
  int dm1Reads = 0;
  onLine = [&](const std::string& line) {
    if (line == "RD DM1" && (++dm1Reads == 5 || dm1Reads == 15)) vt::PushKeys("\x1b");
  };
  Type({"1", "0\r", "q", "x", "1", "0\r", "q", "x", "\x1b"});
  ASSERT_TRUE(Run(ComponentTestMenu));
  EXPECT_EQ(StepsTyped(), 9u);  // both runs reached their own quit question
  EXPECT_EQ(dm1Reads, 15);      // the second run made its moves
  auto dm123 = CommandsStartingWith("WR DM123");
  EXPECT_EQ(dm123.size(), 2u);  // after each test; the closing Esc sends nothing
}

TEST_F(Menu, EscAfterTheSummaryLeavesTheMenu) {
  Teach(moveTime);
  EscOn("RD DM1", 3);
  Type({"1", "0\r", "q", "\x1b"});
  ASSERT_TRUE(Run(ComponentTestMenu));
  EXPECT_EQ(LastKey, 27);
  EXPECT_EQ(StepsTyped(), 4u);
}

}  // namespace
