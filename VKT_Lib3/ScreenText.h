// Screen layout and text output: date and time texts, padding, centring, the
// rule line, the menu column, the line writer that also feeds the result file,
// the banner and the report header.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"
#include "platform/TextFile.h"

struct ClockReadingRec {
  uint16_t Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
extern ClockReadingRec ClockReading;
extern uint16_t ClockDayOfWeek, ClockHundredths;

extern bool LogToFile;
extern TextFile ResultFile;
// The first error a write into the ResultFile met since ResultFileError was
// last cleared (0: none). Writes never stop the screen; the test that owns
// the file looks here, says so and goes on without the file.
extern int ResultFileError;
// Writes one line into the ResultFile when it is open, noting a failure.
void WriteResultLine(std::string_view text);

ShortStr FormatDate(const ClockReadingRec& reading, int mode);
ShortStr FormatTime(const ClockReadingRec& reading, int hundredths);
ShortStr PadToWidth(const ShortStr& left, const ShortStr& right, int width);
ShortStr CenterText(const ShortStr& text, int width);
void WriteRightAligned(const ShortStr& text, int column);
ShortStr RuleLine();
ShortStr AtColumn11(const ShortStr& text);
void EchoLine(const ShortStr& text);
void ShowBanner();
void WriteReportHeader(const ShortStr& title);
// Reads the date and time into ClockReading.
void ReadClock();
// A real number right-aligned in width with a fixed count of decimals, as the
// result file and the screens show measured values (23.5 as " 23.5" in 5).
ShortStr RealStr(double value, int width, int decimals);

// The current text window by its packed corners (WindMin, WindMax), so that
// whatever draws outside it (row 1, the terminal) can hand it back.
struct TextWindow {
  uint16_t min = 0, max = 0;
};
TextWindow CurrentWindow();
// Sets the window again; like Window, this puts the cursor at 1,1 in it.
void SetWindow(const TextWindow& w);

// Back to the values at program start.
void ScreenTextInit();

// The texts the banner and the header show.
extern const char* const kAuthorCredit;
