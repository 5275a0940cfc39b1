// Teach positioning times: the modes, the elements each writes, the report,
// the quit and Esc paths and the table's bound.
#include "tests/components/TeachMenuFixture.h"

namespace {

class Teach : public CarrouselTest {
 protected:
  void SetUp() override {
    CarrouselTest::SetUp();
    onHeard = [this](const std::string& line) {
      // The pass lines are cleared before the report: keep the fullest view
      // of the work area while the passes ran.
      auto now = ScreenLines();
      if (now.size() >= passes.size()) passes = now;
      // A measured move must start from a carousel at rest.
      if (line.rfind("WR DM0 ", 0) == 0 && line != "WR DM0 1" && line != "WR DM0 2" && Moving())
        ++sentWhileMoving;
    };
  }
  std::vector<std::string> passes;
  int sentWhileMoving = 0;

  static void Fill(int32_t v) {
    for (auto& t : PosTimeTable) t = v;
  }
  static std::vector<std::string> Pairs(std::initializer_list<int> targets, int start) {
    std::vector<std::string> out;
    for (int p : targets) {
      out.push_back("WR DM0 " + std::to_string(start));
      out.push_back("WR DM0 " + std::to_string(p));
    }
    return out;
  }
  // The report rows, from the title on.
  static std::vector<std::string> Report() {
    auto lines = ScreenLines();
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].find("ZEZ Positioning Times:") != std::string::npos)
        return std::vector<std::string>(lines.begin() + static_cast<long>(i), lines.end());
    return {};
  }
};

constexpr const char* kIndent = "                   ";  // column 11 of the banner window

TEST_F(Teach, SingleCarrouselTimesEveryDistanceFromPositionOne) {
  Fill(777);
  Type({"x"});
  ASSERT_TRUE(Run(TeachPositionTimes));
  EXPECT_EQ(LastKey, 'x');

  std::vector<std::string> expected = {"RD 3012", "ST 1801"};
  for (const auto& l : Pairs({1, 2, 3, 4, 5, 6, 7, 8, 9}, 1)) expected.push_back(l);
  EXPECT_EQ(Commands(), expected);
  // The status line's last Ready reading predates each command to position
  // 1; a wait on it alone would start the measured move while the carousel
  // is still on its way back.
  EXPECT_EQ(sentWhileMoving, 0);

  // Element k holds the move over k positions: the controller's move time,
  // plus at most one poll of the Ready relay (0.1 s and one exchange).
  for (int k = 0; k < 9; ++k) {
    EXPECT_GE(PosTimeTable[k], moveTime(k)) << k;
    EXPECT_LE(PosTimeTable[k], moveTime(k) + 16) << k;
  }
  EXPECT_EQ(PosTimeTable[9], 777);

  ASSERT_GE(passes.size(), 18u);
  EXPECT_EQ(passes[0], "Pos.  1  OK");
  EXPECT_EQ(passes[1], "Pos.  1  OK   0.1 s");
  EXPECT_EQ(passes[2], "Pos.  1  OK");
  EXPECT_EQ(passes[3], "Pos.  2  OK   0.5 s");
  EXPECT_EQ(passes[17].substr(0, 11), "Pos.  9  OK");

  auto report = Report();
  ASSERT_EQ(report.size(), 10u);
  EXPECT_EQ(report[0], std::string(kIndent) + "ZEZ Positioning Times:");
  EXPECT_EQ(report[1], std::string(kIndent) + "Pos 0   0.1 s");
  EXPECT_EQ(report[2], std::string(kIndent) + "Pos 1   0.5 s");
  EXPECT_EQ(report[9], std::string(kIndent) + "Pos 8   1.2 s");
}

TEST_F(Teach, LeftCarrouselTeachesOddPositionsFromOne) {
  twin = true;
  Fill(777);
  Type({"y", "x"});
  ASSERT_TRUE(Run(TeachPositionTimes));

  std::vector<std::string> expected = {"RD 3012", "ST 1801"};
  for (const auto& l : Pairs({1, 3, 5, 7, 9}, 1)) expected.push_back(l);
  EXPECT_EQ(Commands(), expected);
  for (int k = 0; k < 10; ++k) {
    if (k % 2 == 0 && k <= 8) {
      EXPECT_GE(PosTimeTable[k], moveTime(k)) << k;
      EXPECT_LE(PosTimeTable[k], moveTime(k) + 16) << k;
    } else {
      EXPECT_EQ(PosTimeTable[k], 777) << k;  // not this carousel's
    }
  }
  for (size_t i = 0; i < 10; i += 2) EXPECT_EQ(passes[i], "Pos.  1  OK") << i;
  // The report lists every element, also those this run left alone.
  auto report = Report();
  ASSERT_EQ(report.size(), 10u);
  EXPECT_EQ(report[2], std::string(kIndent) + "Pos 1   7.8 s");
}

TEST_F(Teach, RightCarrouselTeachesEvenPositionsFromTwoAndOneBeyond) {
  twin = true;
  positions = 10;  // the controller lets position 10 be commanded
  Fill(777);
  Type({"n", "x"});
  ASSERT_TRUE(Run(TeachPositionTimes));

  std::vector<std::string> expected = {"RD 3012", "ST 1801"};
  for (const auto& l : Pairs({2, 4, 6, 8, 10}, 2)) expected.push_back(l);
  EXPECT_EQ(Commands(), expected);
  for (int k : {1, 3, 5, 7, 9}) {
    // From position 2: the move to position k + 1 is over k - 1 positions.
    EXPECT_GE(PosTimeTable[k], moveTime(k - 1)) << k;
    EXPECT_LE(PosTimeTable[k], moveTime(k - 1) + 16) << k;
  }
  for (int k : {0, 2, 4, 6, 8, 10}) EXPECT_EQ(PosTimeTable[k], 777) << k;
  EXPECT_EQ(passes[0], "Pos.  2  OK");
  EXPECT_EQ(passes[8], "Pos.  2  OK");
  // Position 10's time is kept but only rows 0..8 are listed.
  auto report = Report();
  ASSERT_EQ(report.size(), 10u);
  EXPECT_EQ(report[9], std::string(kIndent) + "Pos 8   7.8 s");
}

TEST_F(Teach, QuitWhileWaitingForReadyAtTheStartMeasuresNothing) {
  Fill(333);
  moveEndUs = ~0ull;  // the store is busy: the first wait for ready goes on
  vt::PushKeys("\x1b");
  Type({"q", "x"});
  ASSERT_TRUE(Run(TeachPositionTimes));
  EXPECT_TRUE(QuitRequested);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"RD 3012", "ST 1801", "WR DM0 1"}));
  for (auto t : PosTimeTable) ASSERT_EQ(t, 333);
  EXPECT_EQ(Report().size(), 10u);
}

// An Esc that ends a measurement is turned into the quit question at the end
// of the pass; answered with N, the remaining positions are taught as usual
// instead of storing a tenth of a second each without moving anything.
TEST_F(Teach, EscDuringAMeasurementAsksTheQuitQuestion) {
  EscOn("WR DM0 3", 1);
  Type({"n", "x"});
  ASSERT_TRUE(Run(TeachPositionTimes));
  EXPECT_FALSE(QuitRequested);
  EXPECT_EQ(StepsTyped(), 2u);

  std::vector<std::string> expected = {"RD 3012", "ST 1801"};
  for (const auto& l : Pairs({1, 2, 3, 4, 5, 6, 7, 8, 9}, 1)) expected.push_back(l);
  EXPECT_EQ(Commands(), expected);
  // The interrupted measurement keeps the time up to the Esc ...
  EXPECT_LT(PosTimeTable[2], moveTime(2));
  // ... and the rest are real moves.
  for (int k = 3; k < 9; ++k) {
    EXPECT_GE(PosTimeTable[k], moveTime(k)) << k;
    EXPECT_LE(PosTimeTable[k], moveTime(k) + 16) << k;
  }
}

TEST_F(Teach, EscAtTheCarrouselQuestionLeavesWithoutActivatingOrMoving) {
  twin = true;
  Fill(444);
  Type({"\x1b"});
  ASSERT_TRUE(Run(TeachPositionTimes));
  EXPECT_EQ(Commands(), (std::vector<std::string>{"RD 3012"}));
  for (auto t : PosTimeTable) ASSERT_EQ(t, 444);
}

// The table has 56 elements: a larger carousel is taught up to the table's
// end, and the report lists no row beyond it.
TEST_F(Teach, ACarrouselLargerThanTheTableStopsAtItsEnd) {
  positions = 60;
  CarPosCount = 60;
  moveTime = [](int) { return 10; };
  Type({"x"});
  ASSERT_TRUE(Run(TeachPositionTimes));
  auto targets = CommandsStartingWith("WR DM0");
  ASSERT_EQ(targets.size(), 2u * kPosTimeEntries);
  EXPECT_EQ(targets.back(), "WR DM0 56");
  auto lines = ScreenLines();
  EXPECT_EQ(lines.back().substr(0, 26), std::string(kIndent) + "Pos 55 ");
  for (int k = 0; k < kPosTimeEntries; ++k) ASSERT_GE(PosTimeTable[k], 10) << k;
}

TEST_F(Teach, TheLeftCarrouselsPassBeyondTheLastPositionStopsAtTheTablesEnd) {
  twin = true;
  positions = 60;
  CarPosCount = 56;
  moveTime = [](int) { return 10; };
  Type({"y", "x"});
  ASSERT_TRUE(Run(TeachPositionTimes));
  // 1, 3, ... 55; the pass to 57 would need element 56.
  EXPECT_EQ(CommandsStartingWith("WR DM0").back(), "WR DM0 55");
  EXPECT_EQ(CommandsStartingWith("WR DM0").size(), 2u * 28);
}

}  // namespace

namespace {

// Against the simulated store: the taught times are the store's own move
// times, and the carousel test measured against them agrees.
class TeachInStore : public StoreTest {
 protected:
  // The carousel test's window as it last showed move lines.
  std::string stream;
};

TEST_F(TeachInStore, TaughtTimesAreTheStoresMoveTimesAndTheCarrouselTestAgrees) {
  ASSERT_EQ(CarPosCount, 9);
  Type({"x"});
  ASSERT_TRUE(Run(TeachPositionTimes));

  // Each measured command (the second of every pair) against the moment the
  // store's Ready came on again. One poll of the measurement is 0.1 s plus
  // one exchange: the longest gap between its reads of relay 1915.
  int dm0 = 0;
  uint64_t longestPollUs = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].line.rfind("WR DM0 ", 0) != 0) continue;
    if (dm0++ % 2 == 0) continue;
    const int target = std::stoi(lines[i].line.substr(7));
    ASSERT_EQ(target, dm0 / 2) << lines[i].line;
    // The move starts from a carousel at rest at its start position.
    EXPECT_TRUE(lines[i].readyBefore) << target;
    uint64_t last = lines[i].atUs;
    for (size_t j = i + 1; j < lines.size() && lines[j].line == "RD 1915"; ++j) {
      longestPollUs = std::max(longestPollUs, lines[j].atUs - last);
      last = lines[j].atUs;
    }
    // Position 1 from position 1 is no move at all.
    const int64_t moveUs = target == 1 ? 0 : static_cast<int64_t>(ReadyAfter(lines[i].atUs));
    const int64_t storedUs = int64_t{PosTimeTable[target - 1]} * 10000;
    if (target > 1) {
      EXPECT_GT(moveUs, 300000) << target;
    }
    EXPECT_GE(storedUs, moveUs - 10000) << target;        // the hundredths are whole
    EXPECT_LE(storedUs, moveUs + static_cast<int64_t>(longestPollUs) + 10000) << target;
  }
  EXPECT_EQ(dm0, 18);
  EXPECT_GT(longestPollUs, 100000u);
  EXPECT_LT(longestPollUs, 200000u);
  const int32_t onePoll = static_cast<int32_t>(longestPollUs / 10000) + 1;

  // The carousel test, pause range 0, for twenty moves; the Esc comes while
  // the twenty-first looks where the carousel stands.
  int dm1Reads = 0;
  onAnswer = [&](const std::string& line, const std::string&) {
    if (line == "RD DM1" && ++dm1Reads == 41) vt::PushKeys("\x1b");
    // The teach's report left the banner's window (columns 10 to 70) in
    // force, so the long move lines wrap: read the window as one stream.
    std::string text;
    for (int y = 2; y <= ScreenModel::kRows; ++y) text += gScreen.Text(10, y, 61);
    if (text.find(" Pos: ") != std::string::npos) stream = text;
  };
  vt::ClearWritten(1);
  lines.clear();
  Type({"0\r", "q", "x"});
  ASSERT_TRUE(Run(CarrouselMovementTest));

  // Every move sent was counted: all of the store's moves lie between 0.05 s
  // and 2.00 s.
  const size_t sent = CommandsStartingWith("WR DM0").size() - 1;  // less the start at position 1
  EXPECT_GE(sent, 15u);
  char total[64];
  std::snprintf(total, sizeof total, "Total Accesses:        %4zu", sent);
  bool found = false;
  for (const std::string& l : ScreenLines()) found = found || l.find(total) != std::string::npos;
  EXPECT_TRUE(found) << total;

  // " max: " on the last line is the largest deviation of the run.
  const size_t at = stream.rfind(" max: ");
  ASSERT_NE(at, std::string::npos) << stream;
  const double maxDeviation = std::stod(stream.substr(at + 6, 4));
  EXPECT_LE(maxDeviation * 100, onePoll + 0.5) << stream;
}

}  // namespace
