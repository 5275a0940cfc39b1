// Turns `tmux capture-pane -p -e -N` output into what a person sees, cell by
// cell, so two captures can be compared whatever escape sequences drew them:
// for each row a text line ("T" + the row number + a blank + the 80 cells as
// UTF-8) and a colour line ("A" + the row number + a blank + foreground and
// background of each cell as two hex digits, in the 16-colour palette:
// 0 black, 1 blue, 2 green, 3 cyan, 4 red, 5 magenta, 6 brown, 7 light
// grey, 8..15 their bright forms). The terminal's default colours count as
// light grey on black, which is what both the console and the terminal show.
//
// Built and run by the Windows end-to-end tests: screen_cells < capture
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kCols = 80;

// ANSI order (black, red, green, yellow, blue, magenta, cyan, white) to the
// palette's (black, blue, green, cyan, red, magenta, brown, grey).
constexpr int kAnsiToPalette[8] = {0, 4, 2, 6, 1, 5, 3, 7};

struct Cell {
  std::string text = " ";
  int fg = 7, bg = 0;
};

struct Pen {
  int fg = 7, bg = 0;
  bool bold = false;
};

int Extended(const std::vector<int>& p, size_t& i) {
  // 38;5;N or 48;5;N: a 256-colour index; the first 16 are the palette.
  if (i + 2 < p.size() && p[i + 1] == 5) {
    int n = p[i + 2];
    i += 2;
    return n < 8 ? kAnsiToPalette[n] : n < 16 ? kAnsiToPalette[n - 8] + 8 : -1;
  }
  if (i + 4 < p.size() && p[i + 1] == 2) i += 4;  // true colour: not ours
  return -1;
}

void ApplySgr(const std::vector<int>& p, Pen& pen) {
  if (p.empty()) {
    pen = Pen{};
    return;
  }
  for (size_t i = 0; i < p.size(); ++i) {
    const int n = p[i];
    if (n == 0) pen = Pen{};
    else if (n == 1) pen.bold = true;
    else if (n == 22) pen.bold = false;
    else if (n >= 30 && n <= 37) pen.fg = kAnsiToPalette[n - 30];
    else if (n == 39) pen.fg = 7;
    else if (n >= 40 && n <= 47) pen.bg = kAnsiToPalette[n - 40];
    else if (n == 49) pen.bg = 0;
    else if (n >= 90 && n <= 97) pen.fg = kAnsiToPalette[n - 90] + 8;
    else if (n >= 100 && n <= 107) pen.bg = kAnsiToPalette[n - 100] + 8;
    else if (n == 38) {
      int c = Extended(p, i);
      if (c >= 0) pen.fg = c;
    } else if (n == 48) {
      int c = Extended(p, i);
      if (c >= 0) pen.bg = c;
    }
  }
}

// tmux carries the colours over from one row to the next.
std::vector<Cell> ParseRow(const std::string& line, Pen& pen) {
  std::vector<Cell> cells;
  for (size_t i = 0; i < line.size();) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == 0x1b && i + 1 < line.size() && line[i + 1] == '[') {
      size_t j = i + 2;
      std::vector<int> params;
      int value = -1;
      while (j < line.size() && ((line[j] >= '0' && line[j] <= '9') || line[j] == ';')) {
        if (line[j] == ';') {
          params.push_back(value < 0 ? 0 : value);
          value = -1;
        } else {
          value = (value < 0 ? 0 : value * 10) + (line[j] - '0');
        }
        ++j;
      }
      if (value >= 0) params.push_back(value);
      if (j < line.size() && line[j] == 'm') ApplySgr(params, pen);
      i = j + 1;
      continue;
    }
    size_t len = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    Cell cell;
    cell.text = line.substr(i, len);
    // Bold is how some terminals show a bright foreground.
    cell.fg = pen.bold && pen.fg < 8 ? pen.fg + 8 : pen.fg;
    cell.bg = pen.bg;
    cells.push_back(cell);
    i += len;
  }
  cells.resize(kCols);
  return cells;
}

}  // namespace

int main() {
  std::string line;
  int row = 0;
  Pen pen;
  while (std::getline(std::cin, line)) {
    ++row;
    const std::vector<Cell> cells = ParseRow(line, pen);
    std::string text, attrs;
    for (const Cell& c : cells) {
      text += c.text;
      char hex[3];
      std::snprintf(hex, sizeof hex, "%X%X", c.fg & 15, c.bg & 15);
      attrs += hex;
    }
    std::printf("T%02d %s\nA%02d %s\n", row, text.c_str(), row, attrs.c_str());
  }
  return 0;
}
