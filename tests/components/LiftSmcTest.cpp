// Lift and SMC 1 movement tests: what goes to DM6 / DM50, the cycle lines,
// the end switch, quitting, and the prompts.
#include "tests/components/MovementFixture.h"

namespace {

const std::vector<std::string> kLiftCycle70000 = {"WR DM6 4464", "WR DM6 0", "RD 15"};

TEST_F(MovementTest, LiftPathBeyondAWordIsAskedAgainThenCyclesUntilTheEndSwitch) {
  endSwitchFrom = 3;
  // 70000 would reach DM6 cut to 4464, a path nobody typed: it is refused.
  Type({"70000\r", "4464\r", "0\r", "x"});
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_EQ(StepsTyped(), 4u);  // the warning waited for its key

  std::vector<std::string> expected = {"WR DM6 0"};
  for (const auto& l : Times(kLiftCycle70000, 3)) expected.push_back(l);
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(ScreenLines(), (std::vector<std::string>{
                               "Enter Path [h<65535] 70000",
                               "Out of range: -32768 to 65535",
                               "Enter Path [h<65535] 4464",
                               "Enter Pause [s]     0",
                               "     0 OK     1 OK OK",
                               "     2 OK OK",
                               "     3 OK OK",
                               "Lift hit z-Init Switch !!!",
                           }));
  EXPECT_FALSE(EscAbort);
}

TEST_F(MovementTest, LiftPathMinusOneIsWrittenAs65535AndASwitchAtOnceEndsAfterOneCycle) {
  endSwitchFrom = 1;
  Type({"-1\r", "0\r", "\x1b"});  // Esc acknowledges the warning
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM6 0", "WR DM6 65535", "WR DM6 0", "RD 15"}));
  auto lines = ScreenLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "     0 OK     1 OK OK");
  EXPECT_EQ(lines[3], "Lift hit z-Init Switch !!!");
  // The warning's key was Esc: the component test menu's next key read
  // answers Esc at once and the menu is left.
  EXPECT_TRUE(EscAbort);
}

TEST_F(MovementTest, LiftPauseZeroStillWaitsATenthAfterEachHalfCycle) {
  endSwitchFrom = 4;
  Type({"100\r", "0\r", "x"});
  ASSERT_TRUE(Run(LiftMovementTest));
  // One exchange takes 53 ms here (its read time-out), a status poll
  // another 52 ms. From the out command to the back command: the back
  // exchange, perhaps a status poll, and the 0.1 s pause. From back to the
  // next out: the switch read and the next out, perhaps a poll, the pause.
  for (int c = 1; c < 4; ++c) {
    const uint64_t out = SentAt("WR DM6 100", c - 1);
    const uint64_t back = SentAt("WR DM6 0", c);
    const uint64_t nextOut = SentAt("WR DM6 100", c);
    EXPECT_GE(back - out, 154000u) << "cycle " << c;
    EXPECT_LE(back - out, 206000u) << "cycle " << c;
    EXPECT_GE(nextOut - back, 207000u) << "cycle " << c;
    EXPECT_LE(nextOut - back, 259000u) << "cycle " << c;
  }
}

TEST_F(MovementTest, LiftPauseInWholeSecondsEndsAtOnceOnEsc) {
  Type({"100\r", "30\r", "Q"});
  // Esc arrives 2 s into the first 30 s pause: it ends the pause, the back
  // command is skipped (Esc stops every exchange until the question) and the
  // question follows.
  EscOn("WR DM6 100", 1, 2'000'000);
  const uint64_t start = vt::NowUs();
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_TRUE(QuitRequested);
  EXPECT_LT(vt::NowUs() - start, 40'000'000u);  // not 30 s twice
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM6 0", "WR DM6 100", "RD 15"}));
}

TEST_F(MovementTest, LiftQuitInsideACycleLetsItFinishWithoutTheWarning) {
  EscOn("WR DM6 0", 3);  // during the back command of cycle 2
  Type({"100\r", "0\r", "Q"});
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_TRUE(QuitRequested);
  // The Esc came while the answer was on its way: it is not shown.
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM6 0", "WR DM6 100", "WR DM6 0", "RD 15", "WR DM6 100",
                                                  "WR DM6 0", "RD 15"}));
  auto lines = ScreenLines();
  EXPECT_EQ(lines.back(), "     2 OK");
}

TEST_F(MovementTest, LiftQuitAndEndSwitchInTheSameCycleStillWarns) {
  endSwitchFrom = 2;
  EscOn("WR DM6 0", 3);
  Type({"100\r", "0\r", "Q", " "});
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_EQ(StepsTyped(), 4u);
  EXPECT_EQ(ScreenLines().back(), "Lift hit z-Init Switch !!!");
}

TEST_F(MovementTest, Smc1SetsUpItsTravelPointsThenAlternates97And96) {
  endSwitchFrom = 2;
  Type({"5000\r", "0\r", "x"});
  ASSERT_TRUE(Run(Smc1MovementTest));
  std::vector<std::string> expected = {
      "WR DM301 0", "WR DM300 35840", "WR DM51 2", "WR DM50 300", "WR DM301 5000",
      "WR DM300 36352", "WR DM51 2", "WR DM50 300", "WR DM50 96",
  };
  for (const auto& l : Times({"WR DM50 97", "WR DM50 96", "RD 11"}, 2)) expected.push_back(l);
  EXPECT_EQ(Commands(), expected);
  auto lines = ScreenLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "     0 OK     1 OK OK");
  EXPECT_EQ(lines[3], "     2 OK OK");
  EXPECT_EQ(lines[4], "Lift hit z-Init Switch !!!");
  EXPECT_EQ(dm[301], 5000);
}

TEST_F(MovementTest, PromptsAskAgainOnANonNumberAndEscLeavesWithoutMoving) {
  Type({"abc\r", "12\r", "\x1b"});
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_TRUE(Commands().empty());
  auto lines = ScreenLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Enter Path [h<65535] abc");
  EXPECT_EQ(lines[1], "Not a number from -2147483648 to 2147483647");
  EXPECT_EQ(lines[2], "Enter Path [h<65535] 12");
  EXPECT_EQ(lines[3], "Enter Pause [s]");
  EXPECT_FALSE(EscAbort);  // the menu's closing write still goes out

  vt::ClearWritten(1);
  Type({"\x1b"});
  ASSERT_TRUE(Run(Smc1MovementTest));
  EXPECT_TRUE(Commands().empty());
}

// --- against the simulated store ------------------------------------------------

TEST_F(StoreMovementTest, LiftPathPastTheTravelEndsOnTheEndSwitch) {
  const int past = store.store().profile().liftTravel + 3000;
  Type({std::to_string(past) + "\r", "0\r", " "});
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_TRUE(store.store().Relay(15));
  // Ready is polled once a second by the status line, so the wait after the
  // out command may end on an older Ready and the switch be found a cycle or
  // two later; but it is found, and it ends the test.
  auto lines = ScreenLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2], "     0 OK     1 OK OK");
  EXPECT_LE(lines.size(), 8u);
  EXPECT_EQ(gScreen.Text(1, WhereY(), 27), "Lift hit z-Init Switch !!! ");
  EXPECT_EQ(StepsTyped(), 3u);
}

TEST_F(StoreMovementTest, LiftWithinTheTravelRunsUntilQuit) {
  const int inside = store.store().profile().liftTravel - 1000;
  EscOn("WR DM6 " + std::to_string(inside), 3);
  Type({std::to_string(inside) + "\r", "0\r", "Q"});
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_FALSE(store.store().Relay(15));
  EXPECT_TRUE(QuitRequested);
  for (const auto& l : ScreenLines()) EXPECT_EQ(l.find("Lift hit"), std::string::npos);
}

}  // namespace
