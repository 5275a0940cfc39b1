// Plate, gate, shovel and turn movement tests: relays by firmware, the
// enable word, the cycle lines, the pauses, and every way out.
#include "tests/components/MovementFixture.h"

namespace {

// --- plate ---------------------------------------------------------------------

TEST_F(MovementTest, PlateMakesTenPairsThenShowsTheTotalTimeAndKeepsTheKey) {
  Type({"k"});
  ASSERT_TRUE(Run(PlateMovementTest));
  EXPECT_EQ(Commands(), Times({"ST 1902", "ST 1903"}, 10));
  auto lines = ScreenLines();
  ASSERT_EQ(lines.size(), 1u);
  // "Total Time ", the seconds in 8 columns with one decimal, " s".
  ASSERT_EQ(lines[0].size(), 21u) << lines[0];
  EXPECT_EQ(lines[0].substr(0, 11), "Total Time ");
  EXPECT_EQ(lines[0].substr(17, 1), ".");
  EXPECT_EQ(lines[0].substr(19), " s");
  // Twenty exchanges of ~53 ms and the status polls between them.
  const double seconds = std::stod(lines[0].substr(11, 8));
  EXPECT_GE(seconds, 1.0);
  EXPECT_LE(seconds, 2.0);
  EXPECT_EQ(LastKey, 'k');
}

TEST_F(MovementTest, PlateBeginsNoCycleAfterAQuit) {
  // A store that answers its relays slowly and is Ready only before the
  // first command. Ready is polled once a second, so the first cycles run on
  // the Ready read before them; then the test waits, Esc comes, Q answers.
  relayAnswerUs = 60'000;
  ready = [this] { return Heard("ST 1902") == 0; };
  EscOn("ST 1902", 1, 3'000'000);
  Type({"Q", "\x1b"});
  ASSERT_TRUE(Run(PlateMovementTest));
  EXPECT_TRUE(QuitRequested);
  ASSERT_EQ(typedAt.size(), 2u);
  const uint64_t quitAt = typedAt[0];
  auto lines = vt::WrittenLines(1);
  auto times = vt::WrittenLineTimes(1);
  int relayCommands = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i][0] != 'S') continue;
    ++relayCommands;
    EXPECT_LT(times[i], quitAt) << lines[i] << " sent after the quit";
  }
  EXPECT_GT(relayCommands, 0);
  EXPECT_LT(relayCommands, 20);
  EXPECT_EQ(ScreenLines().back().substr(0, 11), "Total Time ");
  EXPECT_EQ(LastKey, 27);  // Esc at the total time leaves the menu
}

// --- gate ----------------------------------------------------------------------

TEST_F(MovementTest, GateOpensAndClosesEachCycleUntilQuit) {
  // Esc while the second cycle's closing pause runs.
  EscOn("ST 1902", 2, 200'000);
  Type({"0\r", "0\r", "Q"});
  ASSERT_TRUE(Run(GateMovementTest));
  EXPECT_EQ(Commands(), Times({"ST 1901", "ST 1902"}, 2));
  EXPECT_EQ(ScreenLines(), (std::vector<std::string>{
                               "Enter Pause [s]     0",
                               "Enter Open Time [s] 0",
                               "     1 OK OK",
                               "     2 OK OK",
                           }));
  // Open to close: the open exchange's 53 ms, 0.5 s, an open time of 0 that
  // still waits 0.1 s, and at most one status poll.
  for (int c = 0; c < 2; ++c) {
    const uint64_t gap = SentAt("ST 1902", c) - SentAt("ST 1901", c);
    EXPECT_GE(gap, 654000u);
    EXPECT_LE(gap, 706000u);
  }
}

TEST_F(MovementTest, GateEscAtEitherPromptMovesNothing) {
  Type({"3\r", "\x1b"});
  ASSERT_TRUE(Run(GateMovementTest));
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(ScreenLines().back(), "Enter Open Time [s]");
}

// --- shovel ----------------------------------------------------------------------

TEST_F(MovementTest, ShovelOnFirmware7000DrivesRelay1701) {
  firmware = 7000;
  EscOn("RS 1701", 2, 60'000);
  Type({"0\r", "Q"});
  ASSERT_TRUE(Run(ShovelMovementTest));
  std::vector<std::string> expected = {"WR DM123 51873", "RD DM108"};
  for (const auto& l : Times({"RD T13", "ST 1701", "RD T12", "RS 1701"}, 2)) expected.push_back(l);
  expected.push_back("RS 1701");
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(FirmwareVersion, 7000);
  // No line ends: the entries follow one another.
  EXPECT_EQ(ScreenLines(), (std::vector<std::string>{
                               "Enter Delay [s]    0",
                               "     1 OK     1 OK     2 OK     2 OK",
                           }));
}

TEST_F(MovementTest, ShovelOnFirmware7001DrivesRelay1401AndStillResets1701AtTheEnd) {
  firmware = 7001;
  EscOn("RS 1401", 1, 60'000);
  Type({"0\r", "Q"});
  ASSERT_TRUE(Run(ShovelMovementTest));
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM123 51873", "RD DM108", "RD T13", "ST 1401", "RD T12",
                                                  "RS 1401", "RS 1401", "RS 1701"}));
  EXPECT_EQ(FirmwareVersion, 7001);
}

TEST_F(MovementTest, ShovelLeftBetweenSetAndResetStillHasTheDrivenRelayReset) {
  // Esc while the delay after the set runs: the cycle's own reset is not
  // sent (the exchange is aborted), so the closing resets must catch it.
  EscOn("ST 1401", 1, 150'000);
  Type({"1\r", "Q"});
  ASSERT_TRUE(Run(ShovelMovementTest));
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM123 51873", "RD DM108", "RD T13", "ST 1401", "RS 1401",
                                                  "RS 1701"}));
  EXPECT_FALSE(EscAbort);
}

// --- turn ------------------------------------------------------------------------

TEST_F(MovementTest, TurnOnFirmware7000DrivesRelay1702) {
  firmware = 7000;
  EscOn("RS 1702", 2, 60'000);
  Type({"0\r", "Q"});
  ASSERT_TRUE(Run(TurnMovementTest));
  std::vector<std::string> expected = {"WR DM123 51873", "RD DM108"};
  for (const auto& l : Times({"RD 6901", "ST 1702", "RD 6901", "RS 1702"}, 2)) expected.push_back(l);
  expected.push_back("RS 1702");
  EXPECT_EQ(Commands(), expected);
  EXPECT_EQ(ScreenLines(), (std::vector<std::string>{
                               "Enter Delay [s]    0",
                               "     1 OK   OK",
                               "     2 OK   OK",
                           }));
}

TEST_F(MovementTest, TurnOnFirmware7001DrivesRelay1402AndStillResets1702AtTheEnd) {
  firmware = 7001;
  EscOn("RS 1402", 1, 60'000);
  Type({"0\r", "Q"});
  ASSERT_TRUE(Run(TurnMovementTest));
  EXPECT_EQ(Commands(), (std::vector<std::string>{"WR DM123 51873", "RD DM108", "RD 6901", "ST 1402", "RD 6901",
                                                  "RS 1402", "RS 1402", "RS 1702"}));
}

TEST_F(MovementTest, TurnWaitOnRelay6901EndsOnEscAndReachesTheQuestion) {
  // The turn unit never comes to rest: only Esc can end the wait.
  int reads = 0;
  turning = [&reads] {
    ++reads;
    return std::string("1");
  };
  EscOn("RD 6901", 5, 10'000);
  Type({"0\r", "Q"});
  ASSERT_TRUE(Run(TurnMovementTest));
  EXPECT_TRUE(QuitRequested);
  EXPECT_EQ(reads, 5);
  // Nothing moved while the flag stood; the closing resets go out after it.
  EXPECT_EQ(CommandsOf({"ST", "RS"}), (std::vector<std::string>{"RS 1402", "RS 1702"}));
  EXPECT_EQ(ScreenLines().back(), "     1");
}

TEST_F(MovementTest, ShovelAndTurnEscAtTheDelayPromptEnableNothing) {
  Type({"\x1b"});
  ASSERT_TRUE(Run(ShovelMovementTest));
  Type({"x\r", "\x1b"});
  ASSERT_TRUE(Run(TurnMovementTest));
  EXPECT_TRUE(Commands().empty());
  EXPECT_FALSE(EscAbort);
}

// --- against the simulated store --------------------------------------------------

// Runs menu key 6 or 7 for three cycles (Esc on the third reset, answered
// with Q), then leaves the menu with Esc. Counts the commands to the driven
// relay and how many of them reached the store while DM123 held the enable
// word.
class StoreRelayTest : public StoreMovementTest {
 protected:
  explicit StoreRelayTest(const sim::Profile& profile = sim::DefaultProfile()) : StoreMovementTest(profile) {}

  void RunThroughMenu(const char* key, const std::string& relay) {
    onHeard = [this, relay](const std::string& line) {
      if (line == "ST " + relay || line == "RS " + relay) {
        ++commands;
        enabled += store.store().Dm(123) == 51873;
      }
    };
    EscOn("RS " + relay, 3);
    Type({key, "0\r", "Q", "\x1b"});
    ASSERT_TRUE(Run(ComponentTestMenu));
  }

  int commands = 0;
  int enabled = 0;
};

class Fw7000RelayTest : public StoreRelayTest {
 protected:
  Fw7000RelayTest() : StoreRelayTest(*sim::FindProfile("fw7000")) {}
};

TEST_F(StoreRelayTest, ShovelCyclesOnlyWhileEnabledAndIsDisabledAfterwards) {
  ASSERT_GT(store.store().profile().firmware, 7000);
  RunThroughMenu("6", "1401");
  EXPECT_EQ(commands, 7);  // three sets, three resets, the closing reset
  EXPECT_EQ(enabled, 7);
  EXPECT_EQ(store.store().Dm(123), 0);
  EXPECT_FALSE(store.store().Relay(1401));
  EXPECT_FALSE(store.store().Relay(1701));
}

TEST_F(StoreRelayTest, TurnCyclesOnlyWhileEnabledAndIsDisabledAfterwards) {
  RunThroughMenu("7", "1402");
  EXPECT_EQ(commands, 7);
  EXPECT_EQ(enabled, 7);
  EXPECT_EQ(store.store().Dm(123), 0);
  EXPECT_FALSE(store.store().Relay(1402));
}

TEST_F(Fw7000RelayTest, ShovelUsesChannel17OnFirmware7000) {
  RunThroughMenu("6", "1701");
  EXPECT_EQ(commands, 7);  // the closing reset is the driven relay itself
  EXPECT_EQ(enabled, 7);
  EXPECT_EQ(store.store().Dm(123), 0);
  EXPECT_FALSE(store.store().Relay(1701));
}

TEST_F(Fw7000RelayTest, TurnUsesChannel17OnFirmware7000) {
  RunThroughMenu("7", "1702");
  EXPECT_EQ(commands, 7);
  EXPECT_EQ(enabled, 7);
  EXPECT_EQ(store.store().Dm(123), 0);
  EXPECT_FALSE(store.store().Relay(1702));
}

}  // namespace
