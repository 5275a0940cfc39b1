// What "too small" means for the Windows console: the visible window, not
// the buffer. A buffer of 80 x 25 seen through a smaller window (scroll
// bars) does not fit; a large buffer (the usual 9001 lines of history) seen
// through a window of 80 x 25 does.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/ScreenFit.h"
#include "platform/win32/Win32Internal.h"

namespace {

CONSOLE_SCREEN_BUFFER_INFO Info(SHORT bufferCols, SHORT bufferRows, SHORT left, SHORT top, SHORT right,
                                SHORT bottom) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  info.dwSize = COORD{bufferCols, bufferRows};
  info.srWindow = SMALL_RECT{left, top, right, bottom};
  info.dwMaximumWindowSize = COORD{bufferCols < 240 ? bufferCols : SHORT{240}, bufferRows < 63 ? bufferRows : SHORT{63}};
  return info;
}

ScreenFit Judge(const CONSOLE_SCREEN_BUFFER_INFO& info) {
  return JudgeDisplaySize(win32::WindowCols(info), win32::WindowRows(info));
}

TEST(Win32ConsoleSize, TheVisibleWindowIsWhatMustHoldTheScreen) {
  // The console as the program sets it up: 80 x 25 both.
  EXPECT_TRUE(Judge(Info(80, 25, 0, 0, 79, 24)).fits);
  // The same buffer through a window of 70 x 20: too small, and said so
  // with the window's size.
  const ScreenFit small = Judge(Info(80, 25, 0, 0, 69, 19));
  EXPECT_FALSE(small.fits);
  ASSERT_EQ(small.lines.size(), 1u);
  EXPECT_EQ(small.lines[0], "This program needs a terminal of 80 x 25; this one is 70 x 20.");
  // A window scrolled down a long buffer counts by its own size.
  EXPECT_TRUE(Judge(Info(120, 9001, 0, 4000, 119, 4029)).fits);
  EXPECT_FALSE(Judge(Info(120, 9001, 0, 4000, 119, 4019)).fits);
  // A buffer narrowed with its window (a console that wraps on resize).
  const ScreenFit narrow = Judge(Info(20, 9001, 0, 0, 19, 4));
  EXPECT_EQ(narrow.cols, 20);
  EXPECT_EQ(narrow.rows, 5);
  EXPECT_EQ(narrow.lines.size(), 3u);
  // A console on a smaller terminal (Wine's on a 70 x 20 tty) that let the
  // program make its window 80 x 25 still says its largest window is the
  // terminal's size: that is what is seen.
  CONSOLE_SCREEN_BUFFER_INFO wine = Info(80, 25, 0, 0, 79, 24);
  wine.dwMaximumWindowSize = COORD{70, 20};
  EXPECT_EQ(Judge(wine).lines, small.lines);
  wine.dwMaximumWindowSize = COORD{0, 0};  // no word on it: the window counts
  EXPECT_TRUE(Judge(wine).fits);
  // One cell: the message's first letter.
  EXPECT_EQ(Judge(Info(1, 1, 0, 0, 0, 0)).lines, std::vector<std::string>{"T"});
}

}  // namespace
