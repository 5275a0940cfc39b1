// Whether the program's 80 x 25 screen fits a display of a given size, and
// what a display too small for it shows instead. The one place that decides;
// every backend only reports its display's size and presents the verdict.
#pragma once
#include <string>
#include <vector>

struct ScreenFit {
  int cols = 0, rows = 0;  // the display's size, as reported
  bool fits = true;        // at least 80 x 25: the screen at its top left
  // When it does not fit: the message in lines of at most cols characters,
  // no more than rows of them (wrapped at spaces, cut where it must be).
  std::vector<std::string> lines;
};

// The message for a display of cols x rows, in one line:
// "This program needs a terminal of 80 x 25; this one is 70 x 20."
std::string TooSmallText(int cols, int rows);

// The verdict for a display of cols x rows. Sizes below 1 count as 1 (a
// display that cannot say its size is never shown more than it holds).
ScreenFit JudgeDisplaySize(int cols, int rows);
