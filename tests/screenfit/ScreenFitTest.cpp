// The one decision about the terminal's size (platform/ScreenFit.h) and the
// virtual platform's display that presents it, as every backend does.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Crt.h"
#include "platform/ScreenFit.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

namespace {

TEST(ScreenFit, TheMessageNamesTheNeededAndTheRealSize) {
  EXPECT_EQ(TooSmallText(70, 20), "This program needs a terminal of 80 x 25; this one is 70 x 20.");
  const ScreenFit fit = JudgeDisplaySize(70, 20);
  EXPECT_FALSE(fit.fits);
  EXPECT_EQ(fit.cols, 70);
  EXPECT_EQ(fit.rows, 20);
  ASSERT_EQ(fit.lines.size(), 1u);  // 62 characters: one line
  EXPECT_EQ(fit.lines[0], "This program needs a terminal of 80 x 25; this one is 70 x 20.");
}

TEST(ScreenFit, EightyByTwentyFiveExactlyFitsAndSoDoesLarger) {
  for (auto [c, r] : std::vector<std::pair<int, int>>{{80, 25}, {81, 25}, {80, 26}, {200, 60}}) {
    const ScreenFit fit = JudgeDisplaySize(c, r);
    EXPECT_TRUE(fit.fits) << c << " x " << r;
    EXPECT_TRUE(fit.lines.empty()) << c << " x " << r;
  }
  // One short in either direction does not.
  EXPECT_FALSE(JudgeDisplaySize(79, 25).fits);
  EXPECT_FALSE(JudgeDisplaySize(80, 24).fits);
  EXPECT_FALSE(JudgeDisplaySize(79, 100).fits);
  EXPECT_FALSE(JudgeDisplaySize(300, 24).fits);
}

TEST(ScreenFit, ANarrowTerminalGetsTheMessageWrappedAtSpaces) {
  const ScreenFit fit = JudgeDisplaySize(20, 5);
  EXPECT_EQ(fit.lines, (std::vector<std::string>{"This program needs a", "terminal of 80 x 25;", "this one is 20 x 5."}));
  const ScreenFit forty = JudgeDisplaySize(40, 25);
  EXPECT_EQ(forty.lines,
            (std::vector<std::string>{"This program needs a terminal of 80 x", "25; this one is 40 x 25."}));
}

// Every line within the width, no more lines than rows, and, where the rows
// allow, every word of the message in order.
TEST(ScreenFit, TheMessageNeverLeavesTheTerminalWhateverItsSize) {
  for (int c = 1; c <= 90; ++c)
    for (int r = 1; r <= 30; ++r) {
      const ScreenFit fit = JudgeDisplaySize(c, r);
      if (fit.fits) continue;
      ASSERT_FALSE(fit.lines.empty()) << c << " x " << r;
      ASSERT_LE(fit.lines.size(), static_cast<size_t>(r)) << c << " x " << r;
      std::string joined;
      for (const std::string& line : fit.lines) {
        ASSERT_LE(line.size(), static_cast<size_t>(c)) << c << " x " << r;
        ASSERT_FALSE(line.empty()) << c << " x " << r;
        joined += line;
      }
      std::string text = TooSmallText(c, r), squeezed;
      for (char ch : text)
        if (ch != ' ') squeezed += ch;
      std::string got;
      for (char ch : joined)
        if (ch != ' ') got += ch;
      // Cut short only where the rows ran out; what is shown is the start.
      if (fit.lines.size() < static_cast<size_t>(r)) {
        EXPECT_EQ(got, squeezed) << c << " x " << r;
      }
      EXPECT_EQ(squeezed.compare(0, got.size(), got), 0) << c << " x " << r;
    }
}

TEST(ScreenFit, TinyTerminalsGetTheStartOfTheMessage) {
  EXPECT_EQ(JudgeDisplaySize(1, 1).lines, std::vector<std::string>{"T"});
  EXPECT_EQ(JudgeDisplaySize(4, 1).lines, std::vector<std::string>{"This"});
  EXPECT_EQ(JudgeDisplaySize(5, 2).lines, (std::vector<std::string>{"This", "progr"}));
  EXPECT_EQ(JudgeDisplaySize(20, 1).lines, std::vector<std::string>{"This program needs a"});
  // No size at all counts as 1 x 1.
  const ScreenFit none = JudgeDisplaySize(0, -3);
  EXPECT_EQ(none.cols, 1);
  EXPECT_EQ(none.rows, 1);
  EXPECT_EQ(none.lines, std::vector<std::string>{"T"});
}

// --- the virtual display ---------------------------------------------------------------

std::vector<std::string> ModelRows(int cols, int rows) {
  std::vector<std::string> out;
  for (int y = 1; y <= rows; ++y) {
    std::string r = y <= ScreenModel::kRows ? gScreen.Row(y) : "";
    r.resize(static_cast<size_t>(cols), ' ');
    out.push_back(r);
  }
  return out;
}

TEST(VirtualDisplay, NoDisplayUntilASizeIsSet) {
  vt::Reset();
  WriteText("Hello");
  Delay(10);
  EXPECT_TRUE(vt::DisplayRows().empty());
  EXPECT_EQ(vt::DisplayRedraws(), 0u);
}

TEST(VirtualDisplay, TooSmallShowsTheMessageAndBackRedrawsTheWholeScreen) {
  vt::Reset();
  vt::SetDisplaySize(80, 25);
  GotoXY(1, 1);
  WriteText("Main menu");
  GotoXY(1, 25);
  WriteText("bottom line");
  Delay(1);
  EXPECT_EQ(vt::DisplayRows(), ModelRows(80, 25));
  EXPECT_EQ(vt::DisplayRedraws(), 1u);

  vt::SetDisplaySize(70, 20);
  KeyPressed();  // any yield
  std::vector<std::string> small = vt::DisplayRows();
  ASSERT_EQ(small.size(), 20u);
  EXPECT_EQ(small[0], "This program needs a terminal of 80 x 25; this one is 70 x 20.        ");
  for (size_t y = 1; y < small.size(); ++y) EXPECT_EQ(small[y], std::string(70, ' '));

  // The program goes on drawing; the display keeps the message.
  GotoXY(1, 12);
  WriteText("drawn while small");
  Delay(100);
  EXPECT_EQ(vt::DisplayRows(), small);

  // At the next yield after the terminal is large again: all of it.
  vt::SetDisplaySize(80, 25);
  EXPECT_EQ(vt::DisplayRows(), small);
  Delay(1);
  EXPECT_EQ(vt::DisplayRows(), ModelRows(80, 25));
  EXPECT_EQ(vt::DisplayRedraws(), 2u);

  // Larger: the screen at the top left, the rest blank.
  vt::SetDisplaySize(100, 30);
  FlushOutput();
  EXPECT_EQ(vt::DisplayRows(), ModelRows(100, 30));
  EXPECT_EQ(vt::DisplayRedraws(), 3u);

  // 1 x 1: one letter, no crash.
  vt::SetDisplaySize(1, 1);
  FlushOutput();
  EXPECT_EQ(vt::DisplayRows(), std::vector<std::string>{"T"});
}

TEST(VirtualDisplay, AResizeAtAVirtualTimeTakesEffectAtTheFirstYieldFromThen) {
  vt::Reset();
  vt::SetDisplaySize(80, 25);
  vt::SetDisplaySizeAt(5000, 20, 5);
  vt::SetDisplaySizeAt(9000, 80, 25);
  Delay(4);  // 0 .. 4 ms
  EXPECT_EQ(vt::DisplayRows().size(), 25u);
  Delay(2);  // presented at 4 ms, now 6 ms
  Delay(1);  // presented at 6 ms
  EXPECT_EQ(vt::DisplayRows(),
            (std::vector<std::string>{"This program needs a", "terminal of 80 x 25;", "this one is 20 x 5. ",
                                      std::string(20, ' '), std::string(20, ' ')}));
  Delay(5);
  Delay(0);
  EXPECT_EQ(vt::DisplayRows(), ModelRows(80, 25));
}

}  // namespace
