// The in-memory text screen every backend shares: 80 x 25 cells of a
// code-page-437 byte and a colour attribute, the current text window, the
// cursor and the CRT rules for writing into them. A presenter copies the cells
// that changed to a real display; tests read the cells back.
#pragma once
#include <cstdint>
#include <string>

#include "platform/Cp437.h"

struct ScreenCell {
  uint8_t ch = ' ';
  uint8_t attr = 0x07;  // foreground in the low nibble, background in the high
};

struct ScreenModel {
  static constexpr int kCols = 80;
  static constexpr int kRows = 25;

  ScreenCell cells[kRows][kCols];
  bool dirty[kRows][kCols];
  bool anyDirty = true;
  unsigned bellCount = 0;  // BEL bytes written so far; the presenter rings
  // Window and cursor in 1-based screen coordinates.
  int winX1 = 1, winY1 = 1, winX2 = kCols, winY2 = kRows;
  int curX = 1, curY = 1;
  uint8_t attr = 0x07;

  void Reset();
  void MarkAllDirty();  // every cell to be presented again (a display that lost them)
  void Put(int x, int y, uint8_t ch, uint8_t a);  // screen coordinates
  void Write(uint8_t ch);
  void WriteGlyph(uint8_t ch);  // no control meaning, even for CR, LF, BS, BEL
  void LineFeed();
  void ScrollUp();
  void ClearWindow();
  void ClearToEol();
  bool SetWindow(int x1, int y1, int x2, int y2);
  bool MoveTo(int x, int y);  // window coordinates
  int X() const { return curX - winX1 + 1; }
  int Y() const { return curY - winY1 + 1; }

  // Read-back helpers (screen coordinates, 1-based).
  uint8_t Char(int x, int y) const { return cells[y - 1][x - 1].ch; }
  uint8_t Fg(int x, int y) const { return cells[y - 1][x - 1].attr & 0x0F; }
  uint8_t Bg(int x, int y) const { return (cells[y - 1][x - 1].attr >> 4) & 0x0F; }
  std::string Row(int y) const;  // the 80 bytes of a row
  std::string Text(int x, int y, int count) const;
};

extern ScreenModel gScreen;

