// The terminal made too small in the middle of the random-access test, on
// virtual time against the simulated store: the display shows the message
// while the test goes on accessing the store and writing its file; the Esc
// is still read and stops the test; made large again while the summary
// waits for its key, the display shows the whole summary screen again; the
// result file is whole.
#include <string>
#include <vector>

#include "RandomFixture.h"
#include "bench/InProcessRun.h"
#include "sim/Harness.h"

namespace {

constexpr uint64_t kMinuteUs = 60'000'000;

TEST(RandomResize, ATerminalTooSmallMidRunShowsTheMessageWhileTheTestGoesOnAndEscStillStopsIt) {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  sim::StorePeer store;
  vt::AttachPort(1, &store);
  vt::SetDisplaySize(80, 25);

  const uint64_t duration = 20 * kMinuteUs;
  uint64_t startUs = 0, smallUs = 0, escUs = 0;
  std::vector<std::string> atQuestion, atSummary, afterBack;
  unsigned redrawsBefore = 0;
  std::string summaryModel;
  // Start-up, choice 7, the standard test with a 2 s interval; its last
  // answer starts the run.
  const std::vector<std::string> steps = {"1\r", "\r", "7\r", "Y", "2\r", "N"};
  size_t next = 0;
  int after = 0;
  vt::SetKeyFeeder([&] {
    if (next < steps.size()) {
      vt::PushKeys(steps[next]);
      if (++next == steps.size()) {
        startUs = vt::NowUs();
        smallUs = startUs + duration / 2;
        escUs = startUs + duration;
        vt::SetDisplaySizeAt(smallUs, 70, 20);
        vt::PushKeysAt(escUs, "\x1b");
      }
      return true;
    }
    switch (after++) {
      case 0:  // "Quit/Term ?", asked while the terminal is small
        atQuestion = vt::DisplayRows();
        EXPECT_TRUE(Contains(ScreenRow(1), "Quit/Term ?")) << WholeScreen();
        vt::PushKeys("Q");
        return true;
      case 1:  // the summary waits for its key: the terminal large again
        atSummary = vt::DisplayRows();
        redrawsBefore = vt::DisplayRedraws();
        vt::SetDisplaySize(80, 25);
        FlushOutput();  // a yield of the key wait
        afterBack = vt::DisplayRows();
        for (int y = 1; y <= ScreenModel::kRows; ++y) summaryModel += gScreen.Row(y) + "\n";
        vt::PushKeys(" ");
        return true;
      case 2:  // the menu
        vt::PushKeys("0\r");
        return true;
      default:
        return false;
    }
  });
  EXPECT_EQ(RunProgram(), 0);

  // The store was accessed all through the time the terminal was small,
  // and the file got its climate lines and the whole summary.
  size_t whileSmall = 0;
  for (const auto& r : store.store().Accesses())
    if (r.startUs >= smallUs && r.startUs < escUs) ++whileSmall;
  EXPECT_GT(whileSmall, 50u) << "accesses while the terminal was small";
  const std::vector<std::string> file = vt::FileLines("1234_00.spf");
  ASSERT_GT(file.size(), 60u);
  EXPECT_EQ(file[0], std::string(55, '_'));
  size_t climate = 0;
  for (size_t i = 20; i < file.size() && !file[i].empty(); ++i) ++climate;
  EXPECT_GE(climate, 18u);  // one a minute for 20 minutes
  EXPECT_LE(climate, 20u);
  bool summary = false;
  for (const std::string& line : file) summary = summary || Contains(line, "Complete Test Summary");
  EXPECT_TRUE(summary);
  EXPECT_TRUE(StartsWith(file.back(), "Mean UnLoad Time:")) << file.back();

  // While small: the message alone, whatever the program drew meanwhile.
  ASSERT_EQ(atQuestion.size(), 20u);
  EXPECT_EQ(atQuestion[0], "This program needs a terminal of 80 x 25; this one is 70 x 20.        ");
  for (size_t y = 1; y < 20; ++y) EXPECT_EQ(atQuestion[y], std::string(70, ' ')) << y;
  EXPECT_EQ(atSummary, atQuestion);

  // Back at 80 x 25: a full redraw, every row as the screen model has it.
  EXPECT_EQ(redrawsBefore, 1u);
  EXPECT_EQ(vt::DisplayRedraws(), 2u);
  ASSERT_EQ(afterBack.size(), 25u);
  std::string shown;
  for (const std::string& row : afterBack) shown += row + "\n";
  EXPECT_EQ(shown, summaryModel);
  EXPECT_NE(shown.find("Mean UnLoad Time:"), std::string::npos) << shown;
}

}  // namespace
