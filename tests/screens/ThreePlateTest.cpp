// The three-plate test: the block of three plates walked up every cassette
// and handed on to the next, against a scripted controller and against the
// simulated store.
#include "SequenceFixture.h"

namespace {

class ThreePlateScreen : public SequenceTest {
 protected:
  static void Step(std::vector<WireAccess>& out, int c, int n, int L, bool direct) {
    ThreePlateAccesses(out, c, n, L, direct);
  }
};

TEST_F(ThreePlateScreen, PassesGoRoundEveryCassetteUntilTheOperatorQuits) {
  Geometry(7000, 2, 2, 5);
  Relay1703Flag = true;
  // Two passes of two steps of 2 x 4 + 6 accesses, then Esc as the third pass starts.
  EscAtAccess(4 * 14 + 1);
  Keys({});
  ThreePlateTest();

  std::vector<WireAccess> want;
  for (int pass = 0; pass < 2; ++pass)
    for (int c = 1; c <= 2; ++c) Step(want, c, 2, 5, true);
  want.push_back({1, 2, 1908});
  EXPECT_EQ(Accesses(), want);
  EXPECT_TRUE(QuitRequested);
  EXPECT_EQ(CycleCount, 1);
  EXPECT_EQ(WaitTime, 2);  // the cassette counter: the third pass's first step was done
  EXPECT_EQ(gScreen.bellCount, 3u);  // the warning's two and the quit question's
  // Every access shows its three answers.
  EXPECT_TRUE(Contains(Screen(), "  OK OK OK   OK OK OK ")) << Screen();
}

TEST_F(ThreePlateScreen, OneCassetteHandsTheBlockBackToItselfThroughTheStation) {
  Geometry(7000, 1, 1, 4);
  Relay1703Flag = false;
  EscAtAccess(2 * 10 + 1);
  Keys({});
  ThreePlateTest();
  std::vector<WireAccess> want;
  Step(want, 1, 1, 4, false);
  Step(want, 1, 1, 4, false);
  want.push_back({1, 2, 1908});
  EXPECT_EQ(Accesses(), want);
}

TEST_F(ThreePlateScreen, FewerThanThreeLevelsNoTest) {
  for (uint16_t levels : {0, 2}) {
    Fresh();
    Geometry(7000, 3, 3, levels);
    Keys({" "});
    ThreePlateTest();
    EXPECT_TRUE(Contains(screens.at(0), "The store reports " + std::to_string(levels) +
                                            " levels: three plates need at least 3.\nPress any key"))
        << screens.at(0);
    EXPECT_TRUE(Commands().empty());
  }
}

// --- against the simulated store ------------------------------------------------

class ThreePlateOnStore : public StoreRunTest {};

TEST_F(ThreePlateOnStore, OnePassHandsTheBlockRoundToCassetteOne) {
  for (bool direct : {true, false}) {
    SCOPED_TRACE(direct);
    const sim::Profile profile = ThreePlateProfile(Profile("standard"), direct);
    sim::Options options;
    options.plates = sim::PlateLayout::Three;
    TappedStore store(profile, options);
    Start(store);

    const int perStep = 4 * (6 - 3) + 6;
    const int pass = 3 * perStep;
    uint32_t countedThen = 0;
    int seen = 0;
    bool blockBack = false;
    store.onLine = [&](const std::string& line) {
      if (IsAccessRelay(line) && ++seen == pass + 1) {
        // Where the plates stand as the next pass begins.
        countedThen = store.store().counts().accesses;
        const sim::Store& s = store.store();
        blockBack = s.Plate(1, 1) && s.Plate(1, 2) && s.Plate(1, 3) && !s.ShovelPlate() && !s.StationPlate();
        for (int c = 1; c <= 3; ++c)
          for (int l = 1; l <= 6; ++l)
            if ((c != 1 || l > 3) && s.Plate(c, l)) blockBack = false;
        vt::PushKeys("\x1b");
      }
    };
    EXPECT_EQ(Run({"1\r", "\r", "8\r", "Q", "0\r"}), 0);

    EXPECT_TRUE(blockBack);
    // The store counted every access the screen started, and none failed.
    EXPECT_EQ(countedThen, static_cast<uint32_t>(pass));
    EXPECT_EQ(store.store().counts().errors, 0u);
    int sent = 0;
    for (const std::string& line : store.lines) sent += IsAccessRelay(line);
    EXPECT_EQ(sent, pass + 1);
    const auto& rec = store.store().Accesses();
    ASSERT_GE(rec.size(), static_cast<size_t>(pass));
    for (int i = 0; i < pass; ++i) ASSERT_EQ(rec[i].result, sim::AccessResult::Ok) << i;
  }
}

}  // namespace
