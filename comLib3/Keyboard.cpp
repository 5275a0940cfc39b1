// Keyboard polling with the program-wide Esc abort and the type-ahead buffer,
// waits that Esc ends early, the small line editor and the screen helpers.
#include <cstdlib>

#include "comLib3/comLib3.h"
#include "platform/Crt.h"
#include "platform/System.h"

bool EscAbort = false;
ShortStr KeyBuffer;
int SavedCursorX = 1, SavedCursorY = 1;
int ScreenCols = 80, ScreenRows = 25;

uint8_t PollKey() {
  if (EscAbort) return kEsc;
  if (!KeyPressed()) return 0;
  uint8_t k = ReadKey();
  bool extended = false;
  if (k == 0) {
    k = ReadKey();
    extended = true;
  }
  if (!extended && k == kEsc)
    EscAbort = true;
  else
    KeyBuffer.Append(extended ? '\0' : static_cast<char>(k));  // dropped beyond 255
  return k;
}

uint8_t WaitKey() {
  if (EscAbort) return kEsc;
  uint8_t k = ReadKey();
  if (k == 0) {
    ReadKey();
    return 0;
  }
  if (k == kEsc) EscAbort = true;
  return k;
}

uint8_t FlushKeys() {
  uint8_t last = 0;
  while (KeyPressed()) last = ReadKey();
  if (last == 0 && KeyPressed()) last = ReadKey();
  return last;
}

void ResetKeys() {
  Delay(1);
  while (KeyPressed()) ReadKey();
  KeyBuffer.Clear();
  EscAbort = false;
}

uint8_t TakeBufferedKey() {
  if (KeyBuffer.empty()) return 0;
  uint8_t k = KeyBuffer.Byte(0);
  KeyBuffer.Erase(0, 1);
  return k;
}

void WaitTenths(int n) {
  int count = 0;
  do {
    Delay(100);
    ++count;
  } while (count < n && !EscAbort);
}

int WaitSeconds(int n) {
  if (n <= 0) return 0;
  int count = 0;
  do {
    uint16_t h, m, s0, hs;
    GetTime(h, m, s0, hs);
    for (;;) {
      uint16_t s;
      GetTime(h, m, s, hs);
      if (s != s0 || PollKey() == kEsc) break;
      // The clock is read a millisecond apart; beyond that, sleep until a
      // key or the last hundredth of this second, which is watched a
      // millisecond at a time: the change is seen within a millisecond,
      // and the processor rests in between.
      Delay(1);
      if (hs < 99) ComWait(static_cast<uint32_t>(99 - hs) * 10 - 1, 0);
    }
    ++count;
  } while (count < n && !EscAbort);
  return 0;
}

int ReadField(ShortStr& text, int capacity) {
  WriteText(text.view());
  FlushOutput();
  WaitTenths(1);
  ShortStr edited = text;
  if (!EscAbort) {
    for (;;) {
      uint8_t k = WaitKey();
      if (k == 13) break;
      if (k == 8) {
        if (!edited.empty()) {
          WriteText("\b \b");
          edited.PopBack();
        }
      } else if (k != 0) {
        WriteChar(k);
        edited.Append(static_cast<char>(k));
      }
      if (EscAbort) break;
    }
  }
  if (!EscAbort) WriteText("\r\n");
  if (EscAbort) return -1;
  text = edited;
  if (capacity < 0) capacity = 0;
  text.Truncate(static_cast<size_t>(capacity));
  return static_cast<int>(edited.size());
}

char UpCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

void UpperStr(const ShortStr& source, ShortStr& dest) {
  ShortStr out;
  for (size_t i = 0; i < source.size(); ++i) out.Append(UpCase(source[i]));
  dest = out;
}

bool ReadTextLine(ShortStr& text) {
  char buf[ShortStr::kMax];
  size_t len = 0;
  bool ok = ReadLine(buf, sizeof buf, len);
  text.Assign(ok ? std::string_view(buf, len) : std::string_view());
  return ok;
}

namespace {

// Checks the typed line; the value is set only when it is a whole number.
NumberEntry ParseNumberLine(std::string_view s, int32_t& value) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) return NumberEntry::NotANumber;
  long long v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return NumberEntry::NotANumber;
    v = v * 10 + (c - '0');
    if (v > 2147483648LL) return NumberEntry::NotANumber;
  }
  if (negative) v = -v;
  if (v > 2147483647LL) return NumberEntry::NotANumber;
  value = static_cast<int32_t>(v);
  return NumberEntry::Ok;
}

}  // namespace

NumberEntry ReadNumberLine(int32_t& value) {
  ShortStr line;
  if (!ReadTextLine(line)) return NumberEntry::Escaped;
  const NumberEntry entry = ParseNumberLine(line.view(), value);
  // Every prompt asks again after a refused line; the operator is told why
  // first, on the line below his entry, so that letters, a lone sign or a
  // number beyond 32 bits are not simply met by the same question.
  if (entry == NumberEntry::NotANumber) {
    WriteText(kNotANumberText);
    NewLine();
  }
  return entry;
}

void SaveCursor() {
  SavedCursorX = WhereX();
  SavedCursorY = WhereY();
}

void RestoreCursor() { GotoXY(SavedCursorX, SavedCursorY); }

int ScreenWidth() { return (WindMax() & 0xFF) + 1; }
int ScreenHeight() { return (WindMax() >> 8) + 1; }

void GetScreenSize() {
  ScreenCols = ScreenWidth();
  ScreenRows = ScreenHeight();
}

void FullWindow() { Window(1, 1, ScreenCols, ScreenRows); }

void NewLine() { WriteText("\r\r\n"); }

void TwoDigits(uint16_t n, char separator, ShortStr& dest) {
  dest = n < 10 ? ShortStr("0") + static_cast<char>('0' + n) : NumStr(n);
  if (separator != '\0') dest.Append(separator);
}
