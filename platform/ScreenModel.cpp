#include "platform/ScreenModel.h"

#include <cstring>

ScreenModel gScreen;

void ScreenModel::Reset() {
  for (int y = 0; y < kRows; ++y)
    for (int x = 0; x < kCols; ++x) {
      cells[y][x] = ScreenCell{};
      dirty[y][x] = true;
    }
  anyDirty = true;
  bellCount = 0;
  winX1 = 1, winY1 = 1, winX2 = kCols, winY2 = kRows;
  curX = 1, curY = 1;
  attr = 0x07;
}

void ScreenModel::MarkAllDirty() {
  for (auto& row : dirty)
    for (bool& d : row) d = true;
  anyDirty = true;
}

void ScreenModel::Put(int x, int y, uint8_t ch, uint8_t a) {
  if (x < 1 || x > kCols || y < 1 || y > kRows) return;
  ScreenCell& c = cells[y - 1][x - 1];
  if (c.ch == ch && c.attr == a) return;
  c.ch = ch;
  c.attr = a;
  dirty[y - 1][x - 1] = true;
  anyDirty = true;
}

void ScreenModel::ScrollUp() {
  for (int y = winY1; y < winY2; ++y)
    for (int x = winX1; x <= winX2; ++x) {
      const ScreenCell& below = cells[y][x - 1];
      Put(x, y, below.ch, below.attr);
    }
  for (int x = winX1; x <= winX2; ++x) Put(x, winY2, ' ', attr);
}

void ScreenModel::LineFeed() {
  if (curY < winY2)
    ++curY;
  else
    ScrollUp();
  anyDirty = true;
}

void ScreenModel::Write(uint8_t ch) {
  switch (ch) {
    case 7:
      ++bellCount;
      anyDirty = true;
      return;
    case 8:
      if (curX > winX1) --curX;
      anyDirty = true;
      return;
    case 10:
      LineFeed();
      return;
    case 13:
      curX = winX1;
      anyDirty = true;
      return;
    default:
      break;
  }
  WriteGlyph(ch);
}

void ScreenModel::WriteGlyph(uint8_t ch) {
  Put(curX, curY, ch, attr);
  if (curX < winX2) {
    ++curX;
  } else {
    curX = winX1;
    LineFeed();
  }
  anyDirty = true;
}

void ScreenModel::ClearWindow() {
  for (int y = winY1; y <= winY2; ++y)
    for (int x = winX1; x <= winX2; ++x) Put(x, y, ' ', attr);
  curX = winX1;
  curY = winY1;
  anyDirty = true;
}

void ScreenModel::ClearToEol() {
  for (int x = curX; x <= winX2; ++x) Put(x, curY, ' ', attr);
}

bool ScreenModel::SetWindow(int x1, int y1, int x2, int y2) {
  if (x1 < 1 || y1 < 1 || x2 > kCols || y2 > kRows || x1 > x2 || y1 > y2) return false;
  winX1 = x1, winY1 = y1, winX2 = x2, winY2 = y2;
  curX = x1, curY = y1;
  anyDirty = true;
  return true;
}

bool ScreenModel::MoveTo(int x, int y) {
  if (x < 1 || y < 1 || x > winX2 - winX1 + 1 || y > winY2 - winY1 + 1) return false;
  curX = winX1 + x - 1;
  curY = winY1 + y - 1;
  anyDirty = true;
  return true;
}

std::string ScreenModel::Row(int y) const { return Text(1, y, kCols); }

std::string ScreenModel::Text(int x, int y, int count) const {
  std::string s;
  if (y < 1 || y > kRows) return s;
  for (int i = 0; i < count && x + i <= kCols; ++i)
    if (x + i >= 1) s.push_back(static_cast<char>(cells[y - 1][x + i - 1].ch));
  return s;
}
