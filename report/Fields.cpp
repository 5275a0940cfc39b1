// Numbers, dates and times as the console prints them, read back.
#include "report/Fields.h"

#include <cstdio>

namespace report {
namespace fields {

int64_t DayNumber(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 730425;
}

void CivilDate(int64_t z, int& y, int& m, int& d) {
  z += 730425;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}


namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ReadDigits(std::string_view s, size_t& pos, int64_t& value) {
  const size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    if (pos - start == kMaxIntegerDigits) return false;
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  const size_t n = pos - start;
  return n > 0 && !(n > 1 && s[start] == '0');
}

// Two digits at `at`; the caller has checked that both are there.
bool TwoDigits(std::string_view s, size_t at, int& value) {
  if (!IsDigit(s[at]) || !IsDigit(s[at + 1])) return false;
  value = (s[at] - '0') * 10 + (s[at + 1] - '0');
  return true;
}

}  // namespace

bool ReadTenths(std::string_view s, size_t& pos, bool mayBeNegative, int64_t& tenths) {
  size_t p = pos;
  const bool negative = p < s.size() && s[p] == '-';
  if (negative) {
    if (!mayBeNegative) return false;
    ++p;
  }
  int64_t whole = 0;
  if (!ReadDigits(s, p, whole)) return false;
  if (p + 1 >= s.size() || s[p] != '.' || !IsDigit(s[p + 1])) return false;
  tenths = whole * 10 + (s[p + 1] - '0');
  if (negative) {
    if (tenths == 0) return false;  // "%f" of a number the console can hold never gives -0.0
    tenths = -tenths;
  }
  pos = p + 2;
  return true;
}

bool ReadInteger(std::string_view s, size_t& pos, bool mayBeNegative, int64_t& value) {
  size_t p = pos;
  const bool negative = p < s.size() && s[p] == '-';
  if (negative) {
    if (!mayBeNegative) return false;
    ++p;
  }
  if (!ReadDigits(s, p, value)) return false;
  if (negative) {
    if (value == 0) return false;
    value = -value;
  }
  pos = p;
  return true;
}

bool ReadField(std::string_view s, size_t& pos, size_t width, Kind kind, bool mayBeNegative, int64_t& value) {
  size_t p = pos;
  while (p < s.size() && s[p] == ' ') ++p;
  const size_t blanks = p - pos;
  const size_t start = p;
  const bool ok =
      kind == Kind::kReal ? ReadTenths(s, p, mayBeNegative, value) : ReadInteger(s, p, mayBeNegative, value);
  if (!ok) return false;
  const size_t length = p - start;
  if (blanks > 0 ? blanks + length != width : length < width) return false;
  pos = p;
  return true;
}

bool WholeField(std::string_view field, Kind kind, bool mayBeNegative, int64_t& value) {
  size_t pos = 0;
  return ReadField(field, pos, field.size(), kind, mayBeNegative, value) && pos == field.size();
}

double FromTenths(int64_t tenths) { return static_cast<double>(tenths) / 10.0; }

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

bool ReadDate(std::string_view s, Stamp& stamp) {
  int day = 0, month = 0, year = 0;
  if (s.size() != 8 || s[2] != '-' || s[5] != '-') return false;
  if (!TwoDigits(s, 0, day) || !TwoDigits(s, 3, month) || !TwoDigits(s, 6, year)) return false;
  year += 2000;
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  stamp.year = year;
  stamp.month = month;
  stamp.day = day;
  return true;
}

bool ReadTime(std::string_view s, Stamp& stamp) {
  int hour = 0, minute = 0, second = 0;
  if (s.size() != 8 || s[2] != ':' || s[5] != ':') return false;
  if (!TwoDigits(s, 0, hour) || !TwoDigits(s, 3, minute) || !TwoDigits(s, 6, second)) return false;
  if (hour > 23 || minute > 59 || second > 59) return false;
  stamp.hour = hour;
  stamp.minute = minute;
  stamp.second = second;
  return true;
}

}  // namespace fields

int64_t Stamp::Seconds() const {
  if (!valid) return 0;
  const int64_t days = fields::DayNumber(year, month, day);
  return ((days * 24 + hour) * 60 + minute) * 60 + second;
}

std::string Stamp::Date() const {
  if (!valid) return {};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", year, month, day);
  return buf;
}

std::string Stamp::Time() const {
  if (!valid) return {};
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hour, minute, second);
  return buf;
}

}  // namespace report
