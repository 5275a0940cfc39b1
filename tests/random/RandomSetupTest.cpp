// The set-up of the random-access test: the dialogue paths, the interval
// rule, the car selection, Esc at every prompt, and the options that leave
// nothing to draw.
#include "RandomFixture.h"

namespace {

// The screen as it stood when the last step was typed: every prompt so far.
std::string LastDialogue(const std::vector<std::string>& screens, size_t steps) {
  return steps <= screens.size() ? screens[steps - 1] : std::string();
}

}  // namespace

TEST_F(RandomTest, StandardSetUpSetsTheOptionsAndAsksOnlyTheIntervalAndInverseMode) {
  Geometry(7015, 9, 9, 5);
  XferMode = 'N';
  CarSelect = 3;
  EscAt("ST 1801");
  Keys({"y", "7\r", "n"});
  ASSERT_TRUE(Run());

  EXPECT_EQ(TestMode, 'B');
  EXPECT_TRUE(PlateTrace);
  EXPECT_EQ(XferMode, 'Y');
  EXPECT_EQ(BlankLevel, 0);
  EXPECT_TRUE(MeasurePlateReady);
  EXPECT_EQ(CarSelect, 0);
  EXPECT_TRUE(NegativeAddressing);  // firmware above 7014
  EXPECT_EQ(FixedInterval, 7);
  EXPECT_EQ(RandomIntervalMax, 0);
  EXPECT_EQ(InverseMode, 'N');

  const std::string dialogue = LastDialogue(screens, 3);
  EXPECT_TRUE(Contains(dialogue, "\nStandard Test [Y/N] Y\n")) << dialogue;
  EXPECT_TRUE(Contains(dialogue, "\nEnter Interval Time (>1sec)        7\n")) << dialogue;
  EXPECT_TRUE(Contains(dialogue, "\nInvers. Mode [Y/N]\n")) << dialogue;
  EXPECT_FALSE(Contains(dialogue, "Test Carrousel")) << dialogue;
  EXPECT_TRUE(Contains(dialogue, "\nPlates 45\nLift 450\n")) << dialogue;  // 9 x 5; 100 x 4 + 50
}

TEST_F(RandomTest, StandardSetUpAt7014ExactlyLeavesNegativeAddressingOff) {
  Geometry(7014, 9, 9, 5);
  EscAt("ST 1801");
  Keys({"Y", "1\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_FALSE(NegativeAddressing);
}

TEST_F(RandomTest, CustomCarrouselOnlyKeepsTheTransferModeAndSkipsTheHandlerPrompts) {
  XferMode = 'Y';
  BlankLevel = 3;
  EscAt("ST 1801");
  Keys({"N", "c", "Y", "N", "-1\r", "5\r", "N"});
  ASSERT_TRUE(Run());

  EXPECT_EQ(TestMode, 'C');
  EXPECT_EQ(XferMode, 'Y');
  EXPECT_TRUE(MeasurePlateReady);  // follows the kept transfer mode
  EXPECT_EQ(BlankLevel, 0);        // cleared by every set-up
  EXPECT_TRUE(PlateTrace);
  EXPECT_FALSE(NegativeAddressing);
  EXPECT_EQ(FixedInterval, 5);
  EXPECT_EQ(RandomIntervalMax, 0);

  const std::string dialogue = LastDialogue(screens, 7);
  EXPECT_TRUE(Contains(dialogue, "\nTest Carrousel, Handler, Both [C,H,B] C\n")) << dialogue;
  EXPECT_FALSE(Contains(dialogue, "Include X-fer Station")) << dialogue;
  EXPECT_FALSE(Contains(dialogue, "Blank Level")) << dialogue;
  EXPECT_FALSE(Contains(dialogue, "VKT1000")) << dialogue;  // fewer than 20 positions per group
  // The two silent keys leave their prompts side by side on one line.
  EXPECT_TRUE(Contains(dialogue, "\nPlate Tracing [Y/N] Negative DM0 Addressing  [Y/N]\n")) << dialogue;
  EXPECT_TRUE(Contains(dialogue, "\nEnter Interval Time [n=min,0=Random Sec,-1=sec]: -1\n")) << dialogue;
  EXPECT_TRUE(Contains(dialogue, "\nEnter Interval Time (>1sec)        5\n")) << dialogue;
}

TEST_F(RandomTest, CustomHandlerOnlyAsksTransferAndBlankLevelAndTakesMinutes) {
  EscAt("ST 1801");
  Keys({"N", "H", "n", "3\r", "x", "Y", "2\r", "Y"});
  ASSERT_TRUE(Run());

  EXPECT_EQ(TestMode, 'H');
  EXPECT_EQ(XferMode, 'N');
  EXPECT_FALSE(MeasurePlateReady);
  EXPECT_EQ(BlankLevel, 3);
  EXPECT_FALSE(PlateTrace);
  EXPECT_TRUE(NegativeAddressing);
  EXPECT_EQ(FixedInterval, 120);  // 2 minutes
  EXPECT_EQ(RandomIntervalMax, 0);
  EXPECT_EQ(InverseMode, 'Y');

  const std::string dialogue = LastDialogue(screens, 8);
  EXPECT_TRUE(Contains(dialogue, "\nInclude X-fer Station N\n")) << dialogue;
  EXPECT_TRUE(Contains(dialogue, "\nBlank Level [0=none]  3\n")) << dialogue;
  EXPECT_FALSE(Contains(dialogue, "Enter Max. Random")) << dialogue;
  EXPECT_FALSE(Contains(dialogue, "(>1sec)")) << dialogue;
}

TEST_F(RandomTest, CustomBothWithIntervalZeroAsksForTheRandomMaximum) {
  Keys({"N", "B", "Y", "0\r", "N", "N", "0\r", "45\r", "N"});
  EscAt("ST 1801");
  ASSERT_TRUE(Run());

  EXPECT_EQ(TestMode, 'B');
  EXPECT_EQ(XferMode, 'Y');
  EXPECT_TRUE(MeasurePlateReady);
  EXPECT_EQ(RandomIntervalMax, 45);
  EXPECT_EQ(FixedInterval, 0);
  const std::string dialogue = LastDialogue(screens, 9);
  EXPECT_TRUE(Contains(dialogue, "\nEnter Max. Random Interval [Sec]   45\n")) << dialogue;
}

TEST_F(RandomTest, CarSelectionIsAskedOnlyFromTwentyPositionsPerGroup) {
  Geometry(7000, 40, 20, 5);
  EscAt("ST 1801");
  Keys({"N", "B", "Y", "0\r", "3\r", "N", "N", "-1\r", "1\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_EQ(CarSelect, 3);
  EXPECT_TRUE(Contains(LastDialogue(screens, 10), "\nVKT1000 1=Both Cars, 2=Left, 3=Right 3\n"));

  Fresh();
  Geometry(7000, 38, 19, 5);
  CarSelect = 3;
  EscAt("ST 1801");
  Keys({"N", "B", "Y", "0\r", "N", "N", "-1\r", "1\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_EQ(CarSelect, 0);
  EXPECT_FALSE(Contains(AllScreens(), "VKT1000"));
}

TEST_F(RandomTest, ANonNumberAsksAgainAndEscAtAnyPromptLeavesWithoutMovingAnything) {
  EscAt("ST 1801");
  Keys({"Y", "soon\r", "4\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_EQ(FixedInterval, 4);
  const std::string dialogue = LastDialogue(screens, 4);
  EXPECT_TRUE(Contains(dialogue, "(>1sec)        soon\nNot a number from -2147483648 to 2147483647\n"
                                 "Enter Interval Time (>1sec)        4\n")) << dialogue;

  // Esc as the answer to each prompt of the custom dialogue in turn.
  const std::vector<std::string> custom = {"N", "B", "Y", "0\r", "N", "N", "-1\r", "3\r", "N"};
  for (size_t at = 0; at <= custom.size(); ++at) {
    Fresh();
    std::vector<std::string> steps(custom.begin(), custom.begin() + static_cast<long>(std::min(at, custom.size())));
    if (at == custom.size()) steps.pop_back();  // Esc at the inverse-mode prompt
    steps.push_back("\x1b");
    Keys(steps);
    ASSERT_TRUE(Run()) << "Esc at step " << at;
    EXPECT_EQ(CountLines("ST 1801"), 0) << "Esc at step " << at;
    EXPECT_TRUE(Accesses().empty()) << "Esc at step " << at;
    EXPECT_FALSE(vt::FileExists("1234_00.spf")) << "Esc at step " << at;
    EXPECT_EQ(quitAnswers, 0) << "Esc at step " << at;
    for (const std::string& line : Commands())
      EXPECT_TRUE(StartsWith(line, "RD DM")) << "Esc at step " << at << " sent " << line;
  }
}

TEST_F(RandomTest, OptionsThatLeaveNothingToDrawAreReportedBeforeTheRun) {
  struct Case {
    const char* name;
    uint16_t firmware, positions, group, levels;
    std::vector<std::string> keys;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"no levels", 7000, 9, 9, 0, {"Y", "1\r", "N", " "}, "there is no slot to test"},
      {"blank level is the only level",
       7000,
       9,
       9,
       1,
       {"N", "H", "Y", "1\r", "N", "N", "-1\r", "1\r", "N", " "},
       "The blank level is the only level"},
      {"no level in the right car's cassettes",
       7104,
       20,
       20,
       5,
       {"N", "B", "Y", "0\r", "3\r", "N", "N", "-1\r", "1\r", "N", " "},
       "No cassette of the selected car"},
  };
  for (const Case& c : cases) {
    Fresh();
    Geometry(c.firmware, c.positions, c.group, c.levels);
    // Firmware 7104 publishes each cassette's levels: here only the odd
    // cassettes (the left car) have any.
    for (int k = 1; k <= 20; ++k) dm[250 + k] = k % 2 ? "5" : "0";
    Keys(c.keys);
    ASSERT_TRUE(Run()) << c.name;
    EXPECT_TRUE(Contains(AllScreens(), c.message)) << c.name << "\n" << AllScreens();
    EXPECT_EQ(CountLines("ST 1801"), 0) << c.name;
    EXPECT_TRUE(Accesses().empty()) << c.name;
    EXPECT_FALSE(vt::FileExists("1234_00.spf")) << c.name;
  }
}

TEST_F(RandomTest, MoreCassettesThanTheTableHoldsAreReportedAndOnlyTheFirstFortyAreUsed) {
  Geometry(7000, 45, 45, 3);
  EscAtAccess(61);
  Keys({"Y", "0\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_TRUE(Contains(AllScreens(), "Cassettes reported: 45, only 1..40 are tested"));
  const auto accesses = Accesses();
  ASSERT_GT(accesses.size(), 50u);
  for (const WireAccess& a : accesses) {
    EXPECT_GE(a.pos, 1);
    EXPECT_LE(a.pos, 40);
  }
}

TEST_F(RandomTest, LevelDetectionReadsUntilTwoReadingsAgree) {
  int reads = 0;
  peer.OnAny([this, &reads](const std::string& line, vt::ScriptedPeer::Rule& rule) {
    if (onLine) onLine(line);
    if (line == "RD DM25") {
      ++reads;
      rule.answer = reads < 4 ? std::to_string(reads) : "6";  // 1, 2, 3, then 6 and 6
      return true;
    }
    rule.answer = AnswerTo(line);
    return true;
  });
  std::string atActivation;
  onLine = [&atActivation](const std::string& line) {
    if (line != "ST 1801") return;
    atActivation = WholeScreen();
    vt::PushKeys("\x1b");
  };
  Keys({"Y", "1\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_EQ(reads, 6);  // (1,2), (3,6), (6,6)
  EXPECT_EQ(LevelCount, 6);
  EXPECT_TRUE(Contains(atActivation, "\nLevels detected: 6    RotPos detected: 9")) << atActivation;
}
