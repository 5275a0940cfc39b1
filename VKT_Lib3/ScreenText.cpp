#include "VKT_Lib3/ScreenText.h"

#include <cstdio>

#include "VKT_Lib3/Globals.h"
#include "comLib3/comLib3.h"
#include "platform/Crt.h"
#include "platform/System.h"

ClockReadingRec ClockReading;
uint16_t ClockDayOfWeek = 0, ClockHundredths = 0;

bool LogToFile = false;
TextFile ResultFile;
int ResultFileError = 0;

const char* const kAuthorCredit = "VKT Svc";

namespace {

// Right edge of every banner and report block.
constexpr int kBlockWidth = 55;

ShortStr Blanks(int n) {
  ShortStr s;
  for (int i = 0; i < n && s.size() < ShortStr::kMax; ++i) s += ' ';
  return s;
}

ShortStr Two(uint16_t n, char separator) {
  ShortStr s;
  TwoDigits(n, separator, s);
  return s;
}

}  // namespace

void ReadClock() {
  GetDate(ClockReading.Year, ClockReading.Month, ClockReading.Day, ClockDayOfWeek);
  GetTime(ClockReading.Hour, ClockReading.Minute, ClockReading.Second, ClockHundredths);
}

ShortStr FormatDate(const ClockReadingRec& reading, int mode) {
  ShortStr result = Two(reading.Day, '-') + Two(reading.Month, '-');
  if (mode < 0) {
    // Two-digit year: a single digit gets its leading zero in place of the
    // blank that the two-wide field gives it.
    const int year = static_cast<int>(reading.Year) - 2000;
    ShortStr y = NumStr(year, 2);
    if (year < 10) y.SetAt(0, '0');
    result += y;
  } else {
    result += NumStr(reading.Year, 4);
  }
  return result;
}

ShortStr FormatTime(const ClockReadingRec& reading, int hundredths) {
  ShortStr result = Two(reading.Hour, ':') + Two(reading.Minute, ':');
  if (hundredths >= 0) {
    result += Two(reading.Second, '.');
    result += Two(static_cast<uint16_t>(hundredths), ' ');
  } else {
    result += Two(reading.Second, ' ');
  }
  result.PopBack();  // the trailing blank
  return result;
}

ShortStr PadToWidth(const ShortStr& left, const ShortStr& right, int width) {
  const int n = width - static_cast<int>(left.size()) - static_cast<int>(right.size());
  return left + Blanks(n) + right;
}

ShortStr CenterText(const ShortStr& text, int width) {
  const int n = (width - static_cast<int>(text.size())) / 2;
  return Blanks(n) + text;
}

void WriteRightAligned(const ShortStr& text, int column) {
  // Byte arithmetic, as the cursor takes byte coordinates: a text wider than
  // the column gives a position off the window, which GotoXY ignores, so the
  // text then simply follows the cursor.
  const uint8_t x = static_cast<uint8_t>(column - static_cast<int>(text.size()) + 1);
  GotoXY(x, WhereY());
  WriteText(text);
  NewLine();
}

ShortStr RuleLine() { return ShortStr(std::string_view("_______________________________________________________")); }

ShortStr AtColumn11(const ShortStr& text) {
  GotoXY(11, WhereY());
  return text;
}

void WriteResultLine(std::string_view text) {
  if (!ResultFile.IsOpen()) return;
  const int error = TextFileWriteLine(ResultFile, text);
  if (error != 0 && ResultFileError == 0) ResultFileError = error;
}

void EchoLine(const ShortStr& text) {
  // A failed write must not cost the screen line; the test that owns the
  // file notices (ResultFileError) and reports the failure itself.
  if (LogToFile) WriteResultLine(text);
  WriteText(text);
  NewLine();
}

void ShowBanner() {
  FullWindow();
  ClrScr();
  Window(10, 1, ScreenWidth() - 10, ScreenHeight());
  ClrScr();
  ReadClock();

  WriteText("Quendal R&D");
  WriteRightAligned(FormatDate(ClockReading, -1), kBlockWidth);
  WriteText(kAuthorCredit);
  WriteRightAligned(FormatTime(ClockReading, -1), kBlockWidth);
  NewLine();
  WriteText("      Vekton-Lundoga-VevuZavo   *   ");
  WriteText("V 2.08, 03.12.A1");
  NewLine();
  WriteText(RuleLine());
  NewLine();
  WriteText("Quendal AG");
  WriteRightAligned("VKT 0000.0", kBlockWidth);
  WriteText(OperatorName);
  WriteRightAligned(ShortStr("# ") + NumStr(SerialNumber), kBlockWidth);
  NewLine();
}

void WriteReportHeader(const ShortStr& title) {
  ClrScr();
  ReadClock();
  const unsigned fw = FirmwareVersion;
  const ShortStr firmware = ShortStr("Firmware ") + NumStr(fw / 1000) + "." + NumStr((fw % 1000) / 100) +
                            "." + NumStr(fw % 100);

  EchoLine(RuleLine());
  EchoLine(PadToWidth("Quendal AG", FormatDate(ClockReading, -1), kBlockWidth));
  EchoLine(PadToWidth(OperatorName, FormatTime(ClockReading, -1), kBlockWidth));
  EchoLine("");
  EchoLine(CenterText("Vekton System Test * V 3.02v, 10.12.07", kBlockWidth));
  EchoLine(CenterText(title, kBlockWidth));
  EchoLine("");
  EchoLine(PadToWidth(ShortStr("SNr. # ") + NumStr(SerialNumber), firmware, kBlockWidth));
  EchoLine("");
}

ShortStr RealStr(double value, int width, int decimals) {
  char buf[512];
  if (width < 0) width = 0;
  if (width > 255) width = 255;
  if (decimals < 0) decimals = 0;
  if (decimals > 30) decimals = 30;
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, value);
  return ShortStr(buf);
}

TextWindow CurrentWindow() { return TextWindow{WindMin(), WindMax()}; }

void SetWindow(const TextWindow& w) {
  Window((w.min & 0xFF) + 1, (w.min >> 8) + 1, (w.max & 0xFF) + 1, (w.max >> 8) + 1);
}

void ScreenTextInit() {
  ClockReading = ClockReadingRec{};
  ClockDayOfWeek = 0;
  ClockHundredths = 0;
  LogToFile = false;
  if (ResultFile.IsOpen()) TextFileClose(ResultFile);
  ResultFile = TextFile{};
  ResultFileError = 0;
}
