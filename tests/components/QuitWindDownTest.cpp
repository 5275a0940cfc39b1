// Once the operator has answered the quit question, a component test winds
// down at once: it still closes what it opened and brings the drive back,
// but the pauses that only paced further cycles are skipped, nothing new is
// sent into a store that never reported ready, and a pause shown for reading
// ends on Esc.
#include "tests/components/MovementFixture.h"

// Esc comes while the test waits for a store that is not ready (at its
// second poll of the Ready relay), so the wait asks the quit question.

TEST_F(MovementTest, GateQuitBeforeTheOpeningClosesAgainWithoutItsLongPauses) {
  ready = [] { return false; };
  EscOn("RD 1915", 2);
  Type({"30\r", "30\r", "Q"});
  ASSERT_TRUE(Run(GateMovementTest));
  EXPECT_TRUE(QuitRequested);
  // The cycle still opens and closes the gate: a gate left open is worse.
  EXPECT_EQ(Commands(), (std::vector<std::string>{"ST 1901", "ST 1902"}));
  ASSERT_EQ(typedAt.size(), 3u);
  // The open time and the pause (30 s each) are not waited out after Q;
  // the half second between opening and closing still is.
  EXPECT_LT(vt::NowUs() - typedAt[2], 1'000'000u);
  EXPECT_GE(SentAt("ST 1902", 0) - SentAt("ST 1901", 0), 500'000u);
}

TEST_F(MovementTest, LiftQuitInACycleSkipsItsLastPause) {
  // Esc 2 s into the first 30 s pause: the pause ends, the question comes
  // after the back command, and Q lets the cycle finish.
  EscOn("WR DM6 100", 1, 2'000'000);
  Type({"100\r", "30\r", "Q"});
  ASSERT_TRUE(Run(LiftMovementTest));
  EXPECT_TRUE(QuitRequested);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM6 0", "WR DM6 100", "RD 15"}));
  ASSERT_EQ(typedAt.size(), 3u);
  // The end switch is read, but the cycle's second pause of 30 s is not
  // waited out for a cycle that will not come.
  EXPECT_LT(vt::NowUs() - typedAt[2], 1'000'000u);
}

TEST_F(MovementTest, Smc1QuitInTheSetUpSendsNoMoreOfIt) {
  ready = [] { return false; };
  EscOn("RD 1915", 2);
  Type({"5000\r", "0\r", "Q"});
  ASSERT_TRUE(Run(Smc1MovementTest));
  EXPECT_TRUE(QuitRequested);
  // Not one parameter block into a store that never said it was ready.
  EXPECT_TRUE(Commands().empty()) << Commands().front();
  EXPECT_EQ(ScreenLines().back(), "     0");
}

TEST_F(MovementTest, ErrorCountersPauseAfterTheResetEndsOnEscAndLeavesTheMenuToo) {
  EscOn("WR DM219 0", 1, 200'000);
  Type({"Y"});
  ASSERT_TRUE(Run(ErrorCountersScreen));
  EXPECT_EQ(CommandsOf({"WR "}).size(), 9u);
  // Ends about 0.2 s after the last reset, not after the full 1.5 s.
  EXPECT_LT(vt::NowUs() - SentAt("WR DM219 0", 0), 500'000u);
  // The Esc stays pending: the component menu's next key read returns it.
  EXPECT_TRUE(EscAbort);
}

TEST_F(MovementTest, ErrorCountersPauseStillLastsOneAndAHalfSecondsWithoutAKey) {
  Type({"Y"});
  ASSERT_TRUE(Run(ErrorCountersScreen));
  const uint64_t pause = vt::NowUs() - SentAt("WR DM219 0", 0);
  EXPECT_GE(pause, 1'500'000u);
  EXPECT_LT(pause, 1'700'000u);
}
