// Service statistics: the password screen and the figures, with the derived
// lines left out where their divisor is 0.
#include "tests/components/TeachMenuFixture.h"

namespace {

class Statistics : public CarrouselTest {
 protected:
  void Words(int hours, int gateLow, int gateHigh, int onLow, int onHigh, int totalLow, int totalHigh) {
    dm[110] = hours;
    dm[111] = gateLow;
    dm[112] = gateHigh;
    dm[117] = onLow;
    dm[118] = onHigh;
    dm[119] = totalLow;
    dm[120] = totalHigh;
  }
  std::vector<std::string> figures;
  static const std::vector<std::string>& Reads() {
    static const std::vector<std::string> r = {"RD DM110", "RD DM111", "RD DM112", "RD DM117",
                                               "RD DM118", "RD DM119", "RD DM120"};
    return r;
  }
};

TEST_F(Statistics, ThePasswordInLowerCaseOpensTheFigures) {
  Words(80, 5000, 1, 30000, 2, 40000, 3);
  std::vector<std::string> prompt;
  int promptColumn = 0;
  vt::SetKeyFeeder([&] {
    if (prompt.empty()) {
      prompt = ScreenLines();
      promptColumn = WhereX();
      vt::PushKeys("qzrb\r");
    } else {
      if (!figures.empty()) return false;
      figures = ScreenLines();
      vt::PushKeys("k");
    }
    return true;
  });
  ASSERT_TRUE(Run(ServiceStatistics));
  EXPECT_EQ(prompt, (std::vector<std::string>{"Enter Passord"}));
  EXPECT_EQ(promptColumn, 15);  // behind the prompt's trailing blank
  EXPECT_EQ(Commands(), Reads());
  // Gate cycles 1 x 65535 + 5000, on time 2 x 65535 + 30000 of
  // 3 x 65535 + 40000 s in total.
  EXPECT_EQ(figures, (std::vector<std::string>{
                         "System Hobs [hours]      80",
                         "Total Gate Cycles     70535",
                         "On Time [s]          161070",
                         "Avrg Acs/hour         881.7",
                         "On Percent. [%]        68.1",
                     }));
  EXPECT_EQ(LastKey, 'k');
}

TEST_F(Statistics, AWrongPasswordSaysNothingAndAsksTheControllerNothing) {
  for (const char* typed : {" QZRB\r", "QZRB \r", "QZR\r", "\r", "\x1b"}) {
    SCOPED_TRACE(typed);
    vt::ClearWritten(1);
    LastKey = 'a';
    Type({typed});
    ASSERT_TRUE(Run(ServiceStatistics));
    EXPECT_TRUE(Commands().empty());
    auto lines = ScreenLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 13), "Enter Passord");
    EXPECT_EQ(LastKey, 'a');
  }
}

TEST_F(Statistics, DerivedLinesAreLeftOutOnAZeroDivisor) {
  struct Case {
    int hours, totalLow, totalHigh;
    std::vector<std::string> derived;
  };
  const Case cases[] = {
      {0, 0, 1, {}},                                  // no hours, and DM119 alone counts
      {0, 100, 0, {"On Percent. [%]        60.0"}},  // no hours
      {10, 0, 5, {"Avrg Acs/hour         6553.5"}},  // DM119 = 0 though DM120 is not
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hours * 1000 + c.totalLow);
    Words(c.hours, 0, 1, 60, 0, c.totalLow, c.totalHigh);
    ClrScr();
    Type({"QZRB\r", "k"});
    ASSERT_TRUE(Run(ServiceStatistics));
    auto lines = ScreenLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Total Gate Cycles     65535");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 3, lines.end()), c.derived);
  }
}

// A high gate word above 32768 takes the count beyond the signed 32-bit
// range; it is shown in full, not as a negative number.
TEST_F(Statistics, LargeTwoWordFiguresAreShownInFull) {
  Words(1, 0, 40000, 0, 0, 0, 0);
  Type({"QZRB\r", "k"});
  ASSERT_TRUE(Run(ServiceStatistics));
  auto lines = ScreenLines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], "Total Gate Cycles     2621400000");
  EXPECT_EQ(lines[3], "Avrg Acs/hour         2621400000.0");
}

}  // namespace
