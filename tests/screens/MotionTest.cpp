// The motion primitives: the commands each sends and in which order, the
// statistics of the timed access, the carousel letters and the random slot
// choice that keeps every slot's use even.
#include "SequenceFixture.h"

namespace {

constexpr char kSep = static_cast<char>(179);

class MotionTest : public SequenceTest {
 protected:
  // Shifts the clock reading by delta hundredths as the controller receives
  // the first DM1 read, that is while a timed access is being timed. The
  // status line's stopwatch moves with it, so its pacing stays as it was.
  void ShiftClockAtDm1(int32_t delta) {
    bool done = false;
    onLine = [delta, done](const std::string& line) mutable {
      if (done || line != "RD DM1") return;
      done = true;
      uint16_t h, m, s, hs;
      GetTime(h, m, s, hs);
      const int32_t now = h * 360000 + m * 6000 + s * 100 + hs + delta;
      vt::SetTimeOfDay(now / 360000, (now / 6000) % 60, (now % 6000) / 100, now % 100);
      int32_t start;
      ToHundredths(StatusTimer[0], start);
      FromHundredths(start + delta, StatusTimer[0]);
    };
  }

  // The statistics as the random-access set-up leaves them.
  static void ResetStats() {
    for (auto& g : HandlingStats) {
      g = HandlingGroup{};
      g.ReadyMin = g.PlateMin = INT32_MAX;
    }
  }

  // One timed load (relay 1909, no PlateReady timing, no wait after it)
  // whose ready time is made exactly `ready` hundredths: a first run finds
  // how long the access takes on the virtual clock, a second identical run
  // has the clock moved on by the difference.
  void TimedLoadLasting(int32_t ready) {
    auto run = [this](int32_t shift) {
      Fresh();
      ResetStats();
      CurrentPos = 2;
      CurrentLevel = 3;
      if (shift != 0) ShiftClockAtDm1(shift);
      TimedAccess(1, 1909, 'L', false);
    };
    run(0);
    const int32_t natural = ReadyTime;
    run(ready - natural);
    ASSERT_EQ(ReadyTime, ready);
  }
};

TEST_F(MotionTest, AccessSlotWritesPositionLevelThenRelayAndShowsTheAnswers) {
  ReadyFlag = true;
  GotoXY(1, 5);
  WriteText("Load ");
  AccessSlot(1, -3, 7, 1909);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM0 65533", "WR DM5 7", "ST 1909"}));
  EXPECT_EQ(Line(5), "Load   OK OK OK");

  // An answer with control bytes is drawn, never acted on.
  Fresh();
  ReadyFlag = true;
  peer.On("ST 1908", "E\r1\x08");
  GotoXY(1, 5);
  AccessSlot(1, 1, 1, 1908);
  EXPECT_EQ(WhereY(), 5);
  EXPECT_EQ(gScreen.Char(10, 5), '\r');
  EXPECT_EQ(gScreen.Char(12, 5), '\x08');
}

TEST_F(MotionTest, TheWaitAfterAnAccessNeedsAReadyPolledAfterTheCommand) {
  // The store is ready when the access starts, busy from its relay on, and
  // ready again at the second poll of relay 1915 after it.
  ReadyFlag = true;
  int pollsAfter = 0;
  onLine = [&](const std::string& line) {
    if (line == "ST 1909") relays[1915] = "0";
    if (line == "RD 1915" && relays.count(1915) && ++pollsAfter == 2) relays[1915] = "1";
  };
  AccessSlot(1, 2, 3, 1909);
  EXPECT_EQ(pollsAfter, 2);
  EXPECT_TRUE(ReadyFlag);
  const std::vector<std::string> wire = vt::WrittenLines(1);
  EXPECT_EQ(wire.back(), "RD 1915");
}

TEST_F(MotionTest, NothingIsSentOnceAnAbortOrAQuitIsPending) {
  GotoXY(1, 5);
  EscAbort = true;
  AccessSlot(1, 1, 1, 1909);
  EscAbort = false;
  QuitRequested = true;
  AccessSlot(1, 1, 1, 1909);
  RotateTo(1, 4);
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(Line(5), "");

  QuitRequested = false;
  ReadyFlag = true;
  RotateTo(1, 4);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM0 4"}));
}

TEST_F(MotionTest, TimedAccessCommandOrderAndLine) {
  ResetStats();
  CurrentPos = 12;
  CurrentLevel = 3;
  FixedInterval = 1;
  dm[1] = "00005";
  relays[1815] = "1";
  GotoXY(1, 5);
  TimedAccess(1, 1904, 'L', true);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM0 12", "WR DM5 3", "ST 1904", "RD DM1", "RD 1815",
                                                  "RD DM1", "ST 1903"}));
  EXPECT_EQ(AccessNumber, 1);
  EXPECT_EQ(LoadCount, 1);
  EXPECT_EQ(UnloadCount, 0);
  EXPECT_GT(PlateTime, 0);
  EXPECT_GE(ReadyTime, PlateTime);
  EXPECT_EQ(TimeHistogram[PlateTime / 50][kPlateLoad], 1);
  EXPECT_EQ(TimeHistogram[ReadyTime / 50][kReadyLoad], 1);

  // The line: floor, number, tag and slot, the three answers, the DM1
  // values the waits show, the times, relay 1903's answer, the wait twice
  // and the countdown from 1.
  const std::string line = Line(5);
  const std::string expectHead = std::string("  0   1   ") + kSep + "L 12/ 3" + kSep + "POK" + kSep + "LOK" + kSep + "OK" +
                                 kSep + " 5  5 " + kSep + "At ";
  EXPECT_EQ(line.substr(0, expectHead.size()), expectHead) << line;
  const std::string tail = std::string("OK") + kSep + "Wt  1" + kSep + kSep + "Wt  1" + kSep + "0 s";
  EXPECT_TRUE(Contains(line, tail)) << line;
}

TEST_F(MotionTest, NoWaitMeansNoEndOfAccessAndACountdownFromZero) {
  ResetStats();
  CurrentPos = 1;
  CurrentLevel = 1;
  FixedInterval = 0;
  RandomIntervalMax = 0;
  GotoXY(1, 5);
  TimedAccess(1, 1908, 'U', false);
  for (const std::string& c : Commands()) EXPECT_NE(c, "ST 1903");
  EXPECT_EQ(PlateTime, 0);
  EXPECT_EQ(UnloadCount, 1);
  for (int bin = 0; bin <= kHistogramBins; ++bin) EXPECT_EQ(TimeHistogram[bin][kPlateAll], 0);
  const std::string tail = std::string("   ") + kSep + "Wt  0" + kSep + kSep + "Wt  0" + kSep + "0 s";
  const std::string line = Line(5);
  EXPECT_EQ(line.substr(line.size() - tail.size()), tail) << line;
}

TEST_F(MotionTest, ReadyTimesOutsideTenthAndHundredSecondsAreNotCounted) {
  struct Case {
    int32_t ready;
    bool counted;
  };
  for (Case c : {Case{10, false}, Case{11, true}, Case{9999, true}, Case{10000, false}}) {
    SCOPED_TRACE(c.ready);
    TimedLoadLasting(c.ready);
    EXPECT_EQ(AccessNumber, c.counted ? 1 : 0);
    EXPECT_EQ(LoadCount, c.counted ? 1 : 0);
    EXPECT_EQ(HandlingStats[kGroupAll].ReadyMax, c.counted ? c.ready : 0);
    EXPECT_EQ(HandlingStats[kGroupLoad].ReadyMin, c.counted ? c.ready : INT32_MAX);
    EXPECT_DOUBLE_EQ(HandlingStats[kGroupLoad].ReadySum, c.counted ? c.ready / 100.0 : 0.0);
    EXPECT_EQ(HandlingStats[kGroupUnload].ReadyMax, 0);
    // The histogram counts every access, counted or not.
    EXPECT_EQ(TimeHistogram[std::min(c.ready / 50, 600)][kReadyAll], 1);
    EXPECT_EQ(TimeHistogram[std::min(c.ready / 50, 600)][kReadyLoad], 1);
  }
}

TEST_F(MotionTest, HistogramBinsAreHalfSecondsWithTheLastCatchingEverythingLonger) {
  TimedLoadLasting(1234);
  EXPECT_EQ(TimeHistogram[24][kReadyAll], 1);
  TimedLoadLasting(29999);
  EXPECT_EQ(TimeHistogram[599][kReadyAll], 1);
  TimedLoadLasting(30000);
  EXPECT_EQ(TimeHistogram[600][kReadyAll], 1);
  TimedLoadLasting(45000);
  EXPECT_EQ(TimeHistogram[600][kReadyLoad], 1);
  EXPECT_EQ(TimeHistogram[600][kReadyUnload], 0);
}

TEST_F(MotionTest, WatchCarouselWritesLettersAndMarksAnIrregularArrivalAtOne) {
  struct Case {
    std::vector<std::string> positions;
    std::string shown;
    int errors;
  };
  const Case cases[] = {
      {{"00005", "00006", "00001"}, "E FA<", 1},
      {{"00009", "00001"}, "I A", 0},
  };
  for (const Case& c : cases) {
    Fresh();
    CarPosCount = 9;
    WaitTime = 3;
    size_t read = 0;
    const size_t last = c.positions.size() - 1;
    // DM1 walks through the positions; Ready comes once the last is reached.
    onLine = [&](const std::string& line) {
      if (line == "RD DM1") dm[1] = c.positions[std::min(read++, last)];
      if (line == "RD 1915") relays[1915] = read > last ? "1" : "0";
    };
    GotoXY(1, 5);
    WatchCarousel(1);
    EXPECT_EQ(Line(5), c.shown);
    EXPECT_EQ(CarPosErrors, c.errors);
    EXPECT_EQ(WaitTime, 30);
  }
}

TEST_F(MotionTest, PositionLettersFromTheWireCannotMoveTheCursor) {
  // 65482 + 64 has the low byte 10, a line feed.
  dm[1] = "65482";
  relays[1915] = "1";
  GotoXY(1, 5);
  WatchCarousel(1);
  EXPECT_EQ(WhereY(), 5);
  EXPECT_EQ(gScreen.Char(1, 5), 10);
}

TEST_F(MotionTest, ReadRotPosReadsAgainAfterAZero) {
  int reads = 0;
  onLine = [&](const std::string& line) {
    if (line == "RD DM1") dm[1] = ++reads == 1 ? "00000" : "00004";
  };
  const uint64_t t0 = vt::NowUs();
  EXPECT_EQ(ReadRotPos(1), 4);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"RD DM1", "RD DM1"}));
  EXPECT_GE(vt::NowUs() - t0, 200000u);
}

// The random choice must leave every count within one of the others.
class PickTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::Reset();
    ComLib3Init();
    SlotTable = SlotTableRec{};
  }
  static void Table(std::initializer_list<int32_t> levels) {
    SlotTable = SlotTableRec{};
    int32_t c = 0;
    for (int32_t l : levels) {
      SlotTable.LevelsPerCassette[++c] = l;
      SlotTable.SlotCount += l;
    }
    SlotTable.CassetteCount = c;
  }
  static void FillCounts(int32_t v) {
    for (int32_t c = 1; c <= SlotTable.CassetteCount; ++c)
      for (int32_t l = 1; l <= SlotTable.LevelsPerCassette[c]; ++l) SlotTable.AccessCount[c][l] = v;
  }
};

TEST_F(PickTest, AllAtTheFloorTakesTheFirstDraw) {
  Table({4, 4, 4});
  FillCounts(2);
  SlotTable.AccessFloor = 2;
  // The draws the choice should make: a cassette, then a level in it.
  const uint32_t seed = RandSeed;
  const int32_t wantC = RandomRange(1, 3);
  const int32_t wantL = RandomRange(1, 4);
  RandSeed = seed;
  int32_t c = 0, l = 0;
  PickRandomSlot(SlotTable, c, l);
  EXPECT_EQ(c, wantC);
  EXPECT_EQ(l, wantL);
  EXPECT_EQ(SlotTable.AccessCount[c][l], 3);
  EXPECT_EQ(SlotTable.AccessFloor, 2);
}

TEST_F(PickTest, AllAboveTheFloorRaisesItAndLeavesTheReturnedSlot) {
  Table({4, 4, 4});
  FillCounts(1);
  int32_t c = 0, l = 0;
  PickRandomSlot(SlotTable, c, l);
  EXPECT_EQ(SlotTable.AccessFloor, 1);
  ASSERT_GE(c, 1);
  ASSERT_GE(l, 1);
  EXPECT_EQ(SlotTable.AccessCount[c][l], 1);
  int32_t sum = 0;
  for (int32_t cc = 1; cc <= 3; ++cc)
    for (int32_t ll = 1; ll <= 4; ++ll) sum += SlotTable.AccessCount[cc][ll];
  EXPECT_EQ(sum, 12);
}

TEST_F(PickTest, EveryRoundVisitsEverySlotOnce) {
  Table({5, 2, 7});
  for (int round = 1; round <= 3; ++round) {
    for (int i = 0; i < 14; ++i) {
      int32_t c = 0, l = 0;
      PickRandomSlot(SlotTable, c, l);
      ASSERT_LE(l, SlotTable.LevelsPerCassette[c]);
    }
    for (int32_t c = 1; c <= 3; ++c)
      for (int32_t l = 1; l <= SlotTable.LevelsPerCassette[c]; ++l) ASSERT_EQ(SlotTable.AccessCount[c][l], round);
    // The next call finds every slot used and raises the floor.
    int32_t c = 0, l = 0;
    PickRandomSlot(SlotTable, c, l);
    EXPECT_EQ(SlotTable.AccessFloor, round);
  }
}

TEST_F(PickTest, CassettesWithoutLevelsAreNeverChosenAndAnEmptyTableEnds) {
  Table({0, 3, 0});
  for (int i = 0; i < 12; ++i) {
    int32_t c = 0, l = 0;
    PickRandomSlot(SlotTable, c, l);
    EXPECT_EQ(c, 2);
    EXPECT_GE(l, 1);
    EXPECT_LE(l, 3);
  }
  Table({0, 0});
  int32_t c = -1, l = -1;
  PickRandomSlot(SlotTable, c, l);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(l, 0);
  EXPECT_EQ(SlotTable.AccessFloor, 0);
}

class ThreePlateStepTest : public SequenceTest {
 protected:
  static std::vector<WireAccess> Expected(int c, int n, int L, bool direct) {
    std::vector<WireAccess> out;
    ThreePlateAccesses(out, c, n, L, direct);
    return out;
  }
};

TEST_F(ThreePlateStepTest, FiveLevelsLastCassetteHandsOverToCassetteOne) {
  for (bool direct : {true, false}) {
    SCOPED_TRACE(direct);
    Fresh();
    Relay1703Flag = direct;
    ThreePlateStep(1, 3, 5, 3);
    const std::vector<WireAccess> want =
        direct ? std::vector<WireAccess>{{3, 2, 1908}, {3, 4, 1909}, {3, 1, 1908}, {3, 2, 1909},
                                         {3, 3, 1908}, {3, 5, 1909}, {3, 2, 1908}, {3, 3, 1909},
                                         {3, 4, 1908}, {1, 3, 1909}, {3, 3, 1908}, {1, 1, 1909},
                                         {3, 5, 1908}, {1, 2, 1909}}
               : std::vector<WireAccess>{{3, 2, 1908}, {3, 4, 1909}, {3, 1, 1908}, {3, 2, 1909},
                                         {3, 3, 1908}, {3, 5, 1909}, {3, 2, 1908}, {3, 3, 1909},
                                         {3, 4, 1905}, {3, 3, 1908}, {1, 1, 1909}, {3, 5, 1908},
                                         {1, 2, 1909}, {1, 3, 1904}};
    EXPECT_EQ(Accesses(), want);
  }
}

TEST_F(ThreePlateStepTest, ShortCassettes) {
  // Four levels: one climb, to levels 2..4.
  Relay1703Flag = true;
  ThreePlateStep(1, 1, 4, 2);
  EXPECT_EQ(Accesses(), Expected(1, 2, 4, true));
  // Three levels: the block is at the top already; no level 4 is touched.
  Fresh();
  Relay1703Flag = true;
  ThreePlateStep(1, 2, 3, 2);
  EXPECT_EQ(Accesses(), Expected(2, 2, 3, true));
  for (const WireAccess& a : Accesses()) EXPECT_LE(a.level, 3);
}

TEST_F(ThreePlateStepTest, AQuitDuringTheClimbSkipsTheHandOver) {
  Relay1703Flag = true;
  EscAtAccess(2);
  Keys({});
  ThreePlateStep(1, 1, 8, 2);
  EXPECT_TRUE(QuitRequested);
  // The Esc came while the second access was being started.
  ASSERT_GE(Accesses().size(), 2u);
  EXPECT_LE(Accesses().size(), 4u);
  for (const WireAccess& a : Accesses()) EXPECT_EQ(a.pos, 1);
}

}  // namespace

TEST_F(MotionTest, CountsGoOnPast65535Accesses) {
  // A week and more of accesses: the total and the means stay right.
  ResetStats();
  AccessNumber = LoadCount = 65535;
  CurrentPos = 2;
  CurrentLevel = 3;
  TimedAccess(1, 1909, 'L', false);
  EXPECT_EQ(AccessNumber, 65536u);
  EXPECT_EQ(LoadCount, 65536u);
}
