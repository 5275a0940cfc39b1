// The all-slots test: the geometry it shows, the set-up dialogue and the
// order in which the plate visits the slots, first against a scripted
// controller, then the whole program against the simulated store.
#include "SequenceFixture.h"

namespace {

class AllSlotsTestScreen : public SequenceTest {
 protected:
  // The standard (or inverse) full sequence for `cycles` passes over a
  // store whose cassette c holds levels[c - 1] levels, with pos(c) written
  // to DM0.
  static std::vector<WireAccess> FullPasses(int cycles, int firstGroup, int groups, std::vector<int> levels,
                                            int load, int unload, bool inverse = false,
                                            int (*pos)(int) = [](int c) { return c; }) {
    std::vector<WireAccess> out;
    for (int n = 0; n < cycles; ++n)
      for (int c = 1; c <= firstGroup; ++c)
        for (int g = 0; g < groups; ++g) {
          const int cc = c + g * firstGroup;
          for (int l = 1; l <= levels[cc - 1]; ++l) {
            out.push_back({pos(cc), l, inverse ? unload : load});
            out.push_back({pos(cc), l, inverse ? load : unload});
          }
        }
    return out;
  }
  static std::vector<WireAccess> Cat(std::vector<WireAccess> a, const std::vector<WireAccess>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  }
};

TEST_F(AllSlotsTestScreen, StandardTestShowsTheGeometryAndVisitsEverySlotInOrder) {
  Geometry(7000, 3, 3, 4);
  // Esc as the first access of the third pass is started.
  EscAtAccess(1 + 2 * 24 + 1);
  Keys({"y", "n"});
  AllSlotsTest();

  // The geometry and the warning, as they stood at the first question.
  const std::string& start = screens.at(0);
  EXPECT_TRUE(Contains(start, "\nPlates 12\nLift 350\n             ! WARNING !\n"
                              "! Remove all Plates from Cassettes except one !\n"
                              "!      Put Plate in Pos 1.1                   !\n\n"
                              "Detected Levels: 4            CarPos: 3\n\nStandard Test [Y/Q/N]\n"))
      << start;
  EXPECT_TRUE(Contains(screens.at(1), "Standard Test [Y/Q/N] Y\nInverse Mode [Y/N]\n")) << screens.at(1);
  EXPECT_EQ(gScreen.bellCount, 3u);  // the warning's two and the quit question's

  const std::vector<WireAccess> want =
      Cat(Cat({{1, 1, 1908}}, FullPasses(2, 3, 1, {4, 4, 4}, 1909, 1908)), {{1, 1, 1909}});
  EXPECT_EQ(Accesses(), want);
  const std::vector<std::string> cmds = Commands();
  ASSERT_GE(cmds.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(cmds.begin(), cmds.begin() + 5),
            (std::vector<std::string>{"RD DM108", "ST 1801", "WR DM0 1", "WR DM5 1", "ST 1908"}));
  EXPECT_TRUE(QuitRequested);
  EXPECT_EQ(CycleCount, 3);

  // The last lines of the second pass, as they scrolled up.
  const std::string end = Screen();
  EXPECT_TRUE(Contains(end, "\nCyc   2  Lvl  4  Pos  3   Load   OK OK OK\n   Unload   OK OK OK\n"
                            "Cyc   3  Lvl  1  Pos  1   Load   OK OK OK\n"))
      << end;
}

TEST_F(AllSlotsTestScreen, CustomBiLevelWithStartSlotBlankLevelAndTransferStation) {
  Geometry(7000, 4, 2, 3);
  EscAtAccess(1 + 8 + 16 + 1);
  // A start level that is no number is asked again; 0 is taken as 1.
  Keys({"n", "y", "n", "abc\r", "0\r", "2\r", "2\r", "n"});
  AllSlotsTest();

  EXPECT_EQ(StartLevel, 1);
  EXPECT_EQ(StartSlot, 2);
  EXPECT_EQ(BlankLevel, 2);
  EXPECT_EQ(XferMode, 'Y');
  EXPECT_TRUE(Contains(screens.at(4), "Enter Start Level [1]      abc\nNot a number from -2147483648 to 2147483647\n"
                                       "Enter Start Level [1]")) << screens.at(4);

  // The first pass starts at cassette 2, the second at 1; level 2 is never
  // visited, in either group; cassette c + 2 follows cassette c.
  std::vector<WireAccess> want = {{1, 1, 1905}};
  for (int c : {2, 4, 1, 3, 2, 4})
    for (int l : {1, 3}) {
      want.push_back({c, l, 1904});
      want.push_back({c, l, 1905});
    }
  want.push_back({1, 1, 1904});
  EXPECT_EQ(Accesses(), want);

  // The second group prints load and unload on one line.
  EXPECT_TRUE(Contains(Screen(), "\nCyc   2  Lvl  3  Pos  4   Load   OK OK OK    Unload   OK OK OK\n"
                                 "Cyc   3  Lvl  1  Pos  1   Load   OK OK OK\n"))
      << Screen();
}

TEST_F(AllSlotsTestScreen, StartLevelAboveTheTopIsTheTop) {
  Geometry(7000, 2, 2, 3);
  EscAtAccess(1 + 4 + 1);
  Keys({"n", "n", "n", "9\r", "1\r", "0\r", "n"});
  AllSlotsTest();
  EXPECT_EQ(StartLevel, 3);
  EXPECT_EQ(Accesses(), (std::vector<WireAccess>{{1, 1, 1908},
                                                 {1, 3, 1909},
                                                 {1, 3, 1908},
                                                 {2, 3, 1909},
                                                 {2, 3, 1908},
                                                 {1, 3, 1909}}));
}

TEST_F(AllSlotsTestScreen, NewFirmwareAddressesNegativeAndUsesEachCassettesOwnLevels) {
  Geometry(7104, 3, 3, 22);
  dm[251] = "00002";
  dm[252] = "00259";  // only the low byte counts: 3
  dm[253] = "00001";
  EscAtAccess(1 + 12 + 1);
  Keys({"q", "n"});
  AllSlotsTest();

  EXPECT_TRUE(Contains(screens.at(0), "\n 1 2\n 2 3\n 3 1\n\nPlates 6\nLift 2150\n")) << screens.at(0);
  std::vector<WireAccess> want = {{1, 1, 1908}};
  for (auto [c, top] : {std::pair{1, 2}, {2, 3}, {3, 1}})
    for (int l : {1, top}) {
      want.push_back({-c, l, 1909});
      want.push_back({-c, l, 1908});
    }
  want.push_back({-1, 1, 1909});
  EXPECT_EQ(Accesses(), want);
  const std::vector<std::string> wire = vt::WrittenLines(1);
  EXPECT_NE(std::find(wire.begin(), wire.end(), "WR DM0 65535"), wire.end());
  EXPECT_TRUE(Contains(Screen(), "\nCyc   1  Lvl  1  Pos -3  Laod   OK OK OK   Unload   OK OK OK\n"
                                 "Cyc   1  Lvl  1  Pos -3  Laod   OK OK OK   Unload   OK OK OK\n"))
      << Screen();
}

TEST_F(AllSlotsTestScreen, QuickInverseOnABiLevelStoreUnloadsFirstAndKeepsThePlatesIn) {
  Geometry(7000, 4, 2, 5);
  EscAtAccess(16 + 1);
  Keys({"q", "y"});
  AllSlotsTest();
  EXPECT_EQ(InverseMode, 'Y');
  std::vector<WireAccess> want;
  for (int c : {1, 3, 2, 4})
    for (int l : {1, 5}) {
      want.push_back({c, l, 1908});
      want.push_back({c, l, 1909});
    }
  want.push_back({1, 1, 1908});
  EXPECT_EQ(Accesses(), want);
  EXPECT_TRUE(Contains(screens.at(0), "\nLift 457\n")) << screens.at(0);  // with the group offset
  EXPECT_FALSE(Contains(Screen(), "Pick Plate"));
  EXPECT_TRUE(Contains(Screen(), "\nCyc   1  Lvl  5  Pos  4  UnLd   OK OK OK   Load   OK OK OK\n")) << Screen();
}

TEST_F(AllSlotsTestScreen, InverseFullSequenceUnloadsBeforeItLoads) {
  Geometry(7000, 2, 2, 2);
  EscAtAccess(8 + 1);
  Keys({"y", "y"});
  AllSlotsTest();
  EXPECT_EQ(Accesses(), Cat(FullPasses(1, 2, 1, {2, 2}, 1909, 1908, true), {{1, 1, 1908}}));
  EXPECT_TRUE(Contains(Screen(), "\nCyc   1  Lvl  2  Pos  2   Unload   OK OK OK\n   Load   OK OK OK\n")) << Screen();
}

TEST_F(AllSlotsTestScreen, AStandardRunAfterAQuickOneIsFull) {
  Geometry(7000, 2, 2, 2);
  EscAtAccess(1 + 4 + 1);
  Keys({"q", "n"});
  AllSlotsTest();
  EXPECT_EQ(QuickMode, 'Y');

  vt::ClearWritten(1);
  QuitRequested = false;
  ResetKeys();
  EscAtAccess(1 + 8 + 1);
  Keys({"y", "n"});
  AllSlotsTest();
  EXPECT_EQ(QuickMode, 'N');
  EXPECT_EQ(Accesses(), Cat(Cat({{1, 1, 1908}}, FullPasses(1, 2, 1, {2, 2}, 1909, 1908)), {{1, 1, 1909}}));
}

TEST_F(AllSlotsTestScreen, EscAtAnyQuestionLeavesWithoutMovingAnything) {
  for (std::vector<std::string> keys : {std::vector<std::string>{"\x1b"}, {"n", "\x1b"}, {"n", "n", "\x1b"},
                                        {"n", "n", "n", "\x1b"}, {"n", "n", "n", "1\r", "1\r", "\x1b"},
                                        {"y", "\x1b"}}) {
    SCOPED_TRACE(keys.size());
    Fresh();
    Keys(keys);
    AllSlotsTest();
    EXPECT_EQ(Commands(), (std::vector<std::string>{"RD DM108"}));
    EXPECT_EQ(quitAnswers, 0);
  }
}

TEST_F(AllSlotsTestScreen, EscAnsweredNoGoesOnWhereTheTestWas) {
  Geometry(7000, 2, 2, 3);
  int seen = 0;
  onLine = [&](const std::string& line) {
    if (IsAccessRelay(line) && (++seen == 3 || seen == 8)) vt::PushKeys("\x1b");
  };
  // Esc comes while the store is ready: the question must still be asked.
  Keys({"y", "n", "n"});
  AllSlotsTest();
  EXPECT_TRUE(Contains(screens.at(2), " Quit/Term ?")) << screens.at(2);
  EXPECT_EQ(quitAnswers, 1);
  EXPECT_EQ(Accesses(), Cat({{1, 1, 1908}}, {{1, 1, 1909}, {1, 1, 1908}, {1, 2, 1909}, {1, 2, 1908},
                                             {1, 3, 1909}, {1, 3, 1908}, {2, 1, 1909}}));
}

TEST_F(AllSlotsTestScreen, AStoreLargerThanTheTableIsCutToIt) {
  Geometry(7000, 50, 50, 120);
  EscAtAccess(1 + 160 + 1);
  Keys({"q", "n"});
  AllSlotsTest();
  const std::string& start = screens.at(0);
  EXPECT_TRUE(Contains(start, "Cassettes reported: 50, only 1..40 are tested\n"
                              "Levels reported: 120, only 1..100 are tested\n\nPlates 4000\n"))
      << start;
  EXPECT_TRUE(Contains(start, "Detected Levels: 120            CarPos: 50\n")) << start;
  const std::vector<WireAccess> got = Accesses();
  ASSERT_EQ(got.size(), 162u);
  for (const WireAccess& a : got) {
    EXPECT_LE(a.pos, 40);
    EXPECT_LE(a.level, 100);
  }
  EXPECT_EQ(got[160], (WireAccess{40, 100, 1908}));

  // With each cassette's own count: the count above 100 is cut too.
  Fresh();
  Geometry(7104, 2, 2, 10);
  dm[251] = "00200";
  dm[252] = "00004";
  Keys({"\x1b"});
  AllSlotsTest();
  EXPECT_TRUE(Contains(screens.at(0), "\n 1 200, only 1..100 are tested\n 2 4\n\nPlates 104\n")) << screens.at(0);
}

TEST_F(AllSlotsTestScreen, NoSlotsNoTest) {
  // A silent or empty store: no levels at all.
  Geometry(7000, 3, 3, 0);
  Keys({" "});
  AllSlotsTest();
  EXPECT_TRUE(Contains(screens.at(0), "\nPlates 0\nLift ")) << screens.at(0);
  EXPECT_TRUE(Contains(screens.at(0), "The store reports no levels: there is no slot to test.\nPress any key"))
      << screens.at(0);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"RD DM108"}));

  // A blank level that is the only level leaves nothing to visit: the test
  // says so instead of going round without end.
  Fresh();
  Geometry(7000, 2, 2, 1);
  Keys({"n", "n", "n", "1\r", "1\r", "1\r", "n", " "});
  AllSlotsTest();
  EXPECT_TRUE(Contains(Screen(), "No slot to visit with these settings.\nPress any key")) << Screen();
  EXPECT_EQ(Accesses(), (std::vector<WireAccess>{{1, 1, 1908}}));
}

// --- against the simulated store ------------------------------------------------

class AllSlotsOnStore : public StoreRunTest {};

TEST_F(AllSlotsOnStore, TwoStandardCyclesOnABiLevelStoreVisitEverySlotInOrder) {
  for (const char* name : {"fw7014", "twin"}) {
    SCOPED_TRACE(name);
    const sim::Profile profile = Profile(name);
    TappedStore store(profile);
    Start(store);
    int slots = 0;
    for (int c = 1; c <= profile.positions; ++c) slots += store.store().LevelsOf(c);
    const int twoCycles = 1 + 4 * slots;
    // Esc as the third pass starts; the store's count is taken then.
    uint32_t countedThen = 0;
    int cycleThen = 0;
    int seen = 0;
    store.onLine = [&](const std::string& line) {
      if (IsAccessRelay(line) && ++seen == twoCycles + 1) {
        countedThen = store.store().counts().accesses;
        cycleThen = CycleCount;
        vt::PushKeys("\x1b");
      }
    };
    EXPECT_EQ(Run({"1\r", "\r", "6\r", "y", "n", "Q", "0\r"}), 0);

    // The screen's geometry: the plates it counted.
    ASSERT_GE(screens.size(), 4u);
    EXPECT_TRUE(Contains(screens[3], "\nPlates " + std::to_string(slots) + "\n")) << screens[3];
    EXPECT_EQ(cycleThen, 3);
    EXPECT_EQ(countedThen, static_cast<uint32_t>(twoCycles));

    // The documented order: the pick from 1,1, then per pass each cassette of
    // the first group followed by its partner in the second, every level
    // loaded and unloaded; no access went wrong.
    const bool negative = profile.firmware >= 7104;
    const std::vector<std::tuple<int, int, int>> want = AllSlotsOrder(profile, store.store(), 2);
    const auto& rec = store.store().Accesses();
    ASSERT_GE(rec.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      ASSERT_EQ(std::make_tuple(rec[i].cassette, rec[i].level, static_cast<int>(rec[i].relay)), want[i]) << i;
      ASSERT_EQ(rec[i].result, sim::AccessResult::Ok) << i;
      if (i > 0 && negative) {
        ASSERT_GE(rec[i].dm0, 0x8000) << i;
      }
    }
    EXPECT_EQ(store.store().counts().errors, 0u);
  }
}

}  // namespace
