// The numbers, dates and times of the result file as the console prints
// them, read back exactly. Each reader takes a figure only in the one form
// the console gives it and says false for anything else: a cut, a stray
// character, a figure no console can print. None of them reads past the
// text it is handed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace report {

// A date and time as the report header shows them: DD-MM-YY and HH:MM:SS.
// The two-digit year is read as 20YY.
struct Stamp {
  bool valid = false;
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;

  // Seconds since 1 Jan 2000 00:00:00; only meaningful when valid.
  int64_t Seconds() const;
  std::string Date() const;  // "2026-12-08", empty when not valid
  std::string Time() const;  // "10:00:02", empty when not valid
};

namespace fields {

// The widest figures the console can print: a 32-bit count of hundredths or
// a controller word read as a 32-bit number, in tenths. More digits than
// this are damage, and keep every figure exact in 64 bits.
constexpr size_t kMaxIntegerDigits = 14;

// A whole number at `pos`: an optional minus (when `mayBeNegative`), then
// 1 to kMaxIntegerDigits digits without a leading zero ("0" itself is one
// number); "-0" is not. On success `pos` is moved past it; on failure `pos`
// stays and `value` is not to be used.
bool ReadInteger(std::string_view s, size_t& pos, bool mayBeNegative, int64_t& value);

// A real as "%.1f" prints it, in tenths: the whole part as ReadInteger
// reads it, a point and exactly one digit; "-0.0" is not one. The number
// ends after that digit, so reals written one against the other still part
// unambiguously, and no cut of one can be read as another. `pos` as above.
bool ReadTenths(std::string_view s, size_t& pos, bool mayBeNegative, int64_t& tenths);

enum class Kind { kReal, kInteger };

// A number right-aligned in a field of `width`: blanks and the number fill
// the width exactly, or, when the number is wider, it stands alone without
// a blank. So a blank-padded field can neither be short nor be followed by
// more digits of its own. A real is read in tenths. `pos` as above.
bool ReadField(std::string_view s, size_t& pos, size_t width, Kind kind, bool mayBeNegative, int64_t& value);

// A whole field that is one number, right-aligned, and nothing else.
bool WholeField(std::string_view field, Kind kind, bool mayBeNegative, int64_t& value);

double FromTenths(int64_t tenths);

bool IsLeap(int year);
// Days since 1 Jan 2000 (the epoch of Stamp::Seconds) of a day of the
// Gregorian calendar, and back.
int64_t DayNumber(int64_t year, int month, int day);
void CivilDate(int64_t dayNumber, int& year, int& month, int& day);
// The days of `month` (1..12) in `year`.
int DaysInMonth(int year, int month);

// "DD-MM-YY", a day of the calendar, the year as 20YY: sets the stamp's
// year, month and day, and nothing else of it; false leaves it as it was.
bool ReadDate(std::string_view s, Stamp& stamp);
// "HH:MM:SS" of a 24-hour clock: sets the stamp's hour, minute and second,
// and nothing else of it; false leaves it as it was.
bool ReadTime(std::string_view s, Stamp& stamp);

}  // namespace fields
}  // namespace report
