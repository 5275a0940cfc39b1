// The console operations that only touch the screen model; every backend
// links them. Keys, delays and the presenter are the backend's own.
#include <cstdio>

#include "platform/Crt.h"
#include "platform/ScreenModel.h"

void GotoXY(int x, int y) { gScreen.MoveTo(x, y); }
int WhereX() { return gScreen.X(); }
int WhereY() { return gScreen.Y(); }

void Window(int x1, int y1, int x2, int y2) { gScreen.SetWindow(x1, y1, x2, y2); }

uint16_t WindMin() {
  return static_cast<uint16_t>(((gScreen.winY1 - 1) << 8) | (gScreen.winX1 - 1));
}
uint16_t WindMax() {
  return static_cast<uint16_t>(((gScreen.winY2 - 1) << 8) | (gScreen.winX2 - 1));
}

void ClrScr() { gScreen.ClearWindow(); }
void ClrEol() { gScreen.ClearToEol(); }

void TextColor(uint8_t colour) {
  gScreen.attr = static_cast<uint8_t>((gScreen.attr & 0xF0) | (colour & 0x0F));
}
void TextBackground(uint8_t colour) {
  gScreen.attr = static_cast<uint8_t>((gScreen.attr & 0x0F) | ((colour & 0x0F) << 4));
}
uint8_t TextAttr() { return gScreen.attr; }
void SetTextAttr(uint8_t attr) { gScreen.attr = attr; }

void WriteChar(uint8_t ch) { gScreen.Write(ch); }

void WriteText(std::string_view text) {
  for (char c : text) gScreen.Write(static_cast<uint8_t>(c));
}

void WriteGlyphs(std::string_view text) {
  for (char c : text) gScreen.WriteGlyph(static_cast<uint8_t>(c));
}

void WriteInt(long long value, int width) {
  char buf[32];
  if (width < 0) width = 0;
  if (width > 255) width = 255;
  std::snprintf(buf, sizeof buf, "%lld", value);
  std::string_view digits(buf);
  for (int pad = width - static_cast<int>(digits.size()); pad > 0; --pad) gScreen.Write(' ');
  WriteText(digits);
}

void WriteReal(double value, int width, int decimals) {
  char buf[400];
  if (width < 0) width = 0;
  if (width > 255) width = 255;
  if (decimals < 0) decimals = 0;
  if (decimals > 30) decimals = 30;
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
  WriteText(buf);
}

bool ReadLine(char* buffer, size_t capacity, size_t& length) {
  length = 0;
  for (;;) {
    uint8_t k = ReadKey();
    if (k == 0) {  // extended key: drop its scan code
      ReadKey();
      continue;
    }
    if (k == 13) {
      gScreen.Write(13);
      gScreen.Write(10);
      return true;
    }
    if (k == 27) {
      while (length > 0) {  // wipe the abandoned text
        --length;
        WriteText("\b \b");
      }
      return false;
    }
    if (k == 8) {
      if (length > 0) {
        --length;
        WriteText("\b \b");
      }
      continue;
    }
    if (k < 32 || length >= capacity) {  // control bytes are not text
      gScreen.Write(7);
      continue;
    }
    buffer[length++] = static_cast<char>(k);
    gScreen.Write(k);
  }
}
