#include "nbrBase/nbrBase.h"

#include "platform/Crt.h"

uint16_t BitMask(int n) { return (n >= 0 && n < 16) ? static_cast<uint16_t>(1u << n) : 0; }

bool TestBit(int n, uint32_t v) { return n >= 0 && n < 32 && ((v >> n) & 1u) != 0; }

void ClearBit(int n, uint32_t& v) { v &= static_cast<uint16_t>(~BitMask(n)); }

char HexDigitOut(int d) {
  d &= 15;
  char c = static_cast<char>(d < 10 ? '0' + d : 'A' + d - 10);
  WriteChar(static_cast<uint8_t>(c));
  FlushOutput();
  return c;
}

void HexWord(uint16_t v, ShortStr& text) {
  text.Clear();
  uint32_t value = v;
  const bool negative = TestBit(15, value);
  if (negative) {
    WriteChar('-');
    ClearBit(15, value);
  }
  for (int shift = 12; shift >= 0; shift -= 4) text.Append(HexDigitOut(static_cast<int>((value >> shift) & 15)));
  if (negative) text = ShortStr("-") + text;
}
