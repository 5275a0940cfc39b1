// The operator's line input on any keys (pasted control bytes, extended keys,
// endless lines, signs, numbers beyond 32 bits): the number prompts accept
// exactly the whole numbers of 32 bits, text lines hold no control byte and
// never more than a text, and the field editor keeps to its capacity.
#include <string>

#include "comLib3/comLib3.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzSupport.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

namespace {

// The console's line input as the operator meets it: Enter ends, Esc
// abandons, Backspace takes back, extended keys do nothing, control bytes
// and keys past the capacity are refused.
struct LineResult {
  bool ok = false;
  std::string text;
};
LineResult ReferenceLine(const std::string& keys, size_t capacity) {
  LineResult r;
  for (size_t i = 0; i < keys.size(); ++i) {
    const uint8_t k = static_cast<uint8_t>(keys[i]);
    if (k == 0) {
      ++i;
    } else if (k == 13) {
      r.ok = true;
      return r;
    } else if (k == 27) {
      r.text.clear();
      return r;
    } else if (k == 8) {
      if (!r.text.empty()) r.text.pop_back();
    } else if (k >= 32 && r.text.size() < capacity) {
      r.text.push_back(static_cast<char>(k));
    }
  }
  return r;
}

// A whole number of 32 bits, blanks around it and one sign allowed.
NumberEntry ReferenceNumber(const std::string& line, int32_t& value) {
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return NumberEntry::NotANumber;
  std::string s = line.substr(first, line.find_last_not_of(' ') - first + 1);
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    s.erase(0, 1);
  }
  if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return NumberEntry::NotANumber;
  const size_t nonzero = s.find_first_not_of('0');
  s = nonzero == std::string::npos ? "0" : s.substr(nonzero);
  if (s.size() > 10) return NumberEntry::NotANumber;
  long long v = std::stoll(s);
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return NumberEntry::NotANumber;
  value = static_cast<int32_t>(v);
  return NumberEntry::Ok;
}

bool CursorInWindow() {
  return WhereX() >= 1 && WhereY() >= 1 && gScreen.curX >= gScreen.winX1 && gScreen.curX <= gScreen.winX2 &&
         gScreen.curY >= gScreen.winY1 && gScreen.curY <= gScreen.winY2;
}

// Screen cells hold only what the line input may echo: no control byte.
bool NoControlCells() {
  for (int y = 1; y <= ScreenModel::kRows; ++y)
    for (int x = 1; x <= ScreenModel::kCols; ++x)
      if (gScreen.Char(x, y) < 32) return false;
  return true;
}

}  // namespace

void CheckOperatorLines(const uint8_t* data, size_t size) {
  vt::Reset();
  ComLib3Init();
  fuzz::Input in(data, size);
  const uint8_t which = in.Byte();
  std::string defaultText;
  int capacity = 0;
  if (which % 3 == 2) {
    defaultText = in.Bytes(in.Byte() % 24);
    const uint8_t c = in.Byte();
    capacity = c >= 250 ? -static_cast<int>(c - 249) : c;
  }
  // The keys; two Enters at the end so that every line ends (an extended
  // key's prefix may take the first as its scan code).
  std::string keys = in.Bytes(in.Remaining());
  keys += "\r\r";
  vt::PushKeys(keys);

  try {
    switch (which % 3) {
      case 0: {
        int32_t value = 12345;
        const NumberEntry e = ReadNumberLine(value);
        const LineResult line = ReferenceLine(keys, ShortStr::kMax);
        int32_t expected = 12345;
        const NumberEntry want = line.ok ? ReferenceNumber(line.text, expected) : NumberEntry::Escaped;
        FUZZ_CHECK(e == want, "ReadNumberLine took another line than the one typed");
        FUZZ_CHECK(value == (e == NumberEntry::Ok ? expected : 12345), "ReadNumberLine gave another number");
        FUZZ_CHECK(NoControlCells(), "a control byte was echoed");
        break;
      }
      case 1: {
        ShortStr text("untouched");
        const bool ok = ReadTextLine(text);
        const LineResult line = ReferenceLine(keys, ShortStr::kMax);
        FUZZ_CHECK(ok == line.ok, "ReadTextLine ended otherwise than the keys say");
        FUZZ_CHECK(text.size() <= ShortStr::kMax, "text line longer than a text");
        if (ok) FUZZ_CHECK(text == line.text, "ReadTextLine gave another text");
        else FUZZ_CHECK(text.empty(), "an abandoned text line kept its text");
        for (size_t i = 0; i < text.size(); ++i) FUZZ_CHECK(text.Byte(i) >= 32, "a control byte in a text line");
        FUZZ_CHECK(NoControlCells(), "a control byte was echoed");
        break;
      }
      default: {
        ShortStr text(defaultText);
        const int r = ReadField(text, capacity);
        // The field editor takes every key but Enter, Backspace and the
        // extended ones, and stops at Esc.
        std::string edited = ShortStr(defaultText).str();
        bool escaped = false;
        for (size_t i = 0; i < keys.size(); ++i) {
          const uint8_t k = static_cast<uint8_t>(keys[i]);
          if (k == 0) ++i;
          else if (k == 13) break;
          else if (k == 27) { escaped = true; break; }
          else if (k == 8) { if (!edited.empty()) edited.pop_back(); }
          else if (edited.size() < ShortStr::kMax) edited.push_back(static_cast<char>(k));
        }
        if (escaped) {
          FUZZ_CHECK(r == -1 && text == ShortStr(defaultText), "Esc in a field changed it");
        } else {
          const size_t keep = capacity < 0 ? 0 : static_cast<size_t>(capacity);
          FUZZ_CHECK(r == static_cast<int>(edited.size()), "ReadField returned another length");
          FUZZ_CHECK(text == ShortStr(edited.substr(0, keep)), "ReadField kept another text");
          FUZZ_CHECK(text.size() <= keep, "a field longer than its capacity");
        }
        break;
      }
    }
  } catch (const vt::Spin&) {
    FUZZ_CHECK(false, "the line input spins without letting time pass");
  } catch (const vt::ScriptEnd&) {
    FUZZ_CHECK(false, "the line input did not end at Enter");
  }
  FUZZ_CHECK(CursorInWindow(), "the cursor left the window");
}
