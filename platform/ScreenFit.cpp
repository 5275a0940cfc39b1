#include "platform/ScreenFit.h"

#include "platform/ScreenModel.h"

std::string TooSmallText(int cols, int rows) {
  return "This program needs a terminal of " + std::to_string(ScreenModel::kCols) + " x " +
         std::to_string(ScreenModel::kRows) + "; this one is " + std::to_string(cols) + " x " +
         std::to_string(rows) + ".";
}

ScreenFit JudgeDisplaySize(int cols, int rows) {
  ScreenFit fit;
  fit.cols = cols < 1 ? 1 : cols;
  fit.rows = rows < 1 ? 1 : rows;
  fit.fits = fit.cols >= ScreenModel::kCols && fit.rows >= ScreenModel::kRows;
  if (fit.fits) return fit;
  // Greedy wrapping at spaces; a word longer than a line is broken where
  // the line ends. Lines beyond the display's rows are left out.
  const std::string text = TooSmallText(fit.cols, fit.rows);
  const size_t width = static_cast<size_t>(fit.cols);
  const size_t height = static_cast<size_t>(fit.rows);
  std::string line;
  size_t i = 0;
  while (i < text.size() && fit.lines.size() < height) {
    size_t end = text.find(' ', i);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(i, end - i);
    i = end + 1;
    while (!word.empty() && fit.lines.size() < height) {
      const size_t need = line.empty() ? word.size() : line.size() + 1 + word.size();
      if (need <= width) {
        if (!line.empty()) line += ' ';
        line += word;
        word.clear();
      } else if (line.empty()) {  // longer than a whole line: break it
        fit.lines.push_back(word.substr(0, width));
        word.erase(0, width);
      } else {
        fit.lines.push_back(line);
        line.clear();
      }
    }
  }
  if (!line.empty() && fit.lines.size() < height) fit.lines.push_back(line);
  return fit;
}
