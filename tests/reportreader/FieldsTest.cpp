// The numbers, dates and times of the result file read one by one: each
// form the console prints is taken at its edges, and each near miss (a
// figure one digit too wide, a sign where none can be, a cut, a day the
// calendar lacks) is turned away without moving the read position.
#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>

#include "report/Fields.h"

using report::Stamp;
using report::fields::Kind;
using report::fields::ReadDate;
using report::fields::ReadField;
using report::fields::ReadInteger;
using report::fields::ReadTenths;
using report::fields::ReadTime;
using report::fields::WholeField;

namespace {

// The integer at the start of s, or nothing; where reading it stopped.
struct Got {
  bool ok;
  int64_t value;
  size_t pos;
};
Got Integer(std::string_view s, bool mayBeNegative = false) {
  size_t pos = 0;
  int64_t v = 0;
  const bool ok = ReadInteger(s, pos, mayBeNegative, v);
  return {ok, ok ? v : 0, pos};
}
Got Tenths(std::string_view s, bool mayBeNegative = false) {
  size_t pos = 0;
  int64_t v = 0;
  const bool ok = ReadTenths(s, pos, mayBeNegative, v);
  return {ok, ok ? v : 0, pos};
}
bool Field(std::string_view s, size_t width, Kind kind, int64_t& v) {
  size_t pos = 0;
  return ReadField(s, pos, width, kind, false, v) && pos == s.size();
}

}  // namespace

TEST(ReportFields, NumbersHaveOneToFourteenDigitsAndNoLeadingZero) {
  const Got widest = Integer("99999999999999");
  EXPECT_TRUE(widest.ok);
  EXPECT_EQ(widest.value, 99999999999999);
  EXPECT_EQ(widest.pos, 14u);
  // Fifteen digits would be damage, and could run past 64 bits in tenths.
  EXPECT_FALSE(Integer("999999999999999").ok);
  EXPECT_EQ(Integer("999999999999999").pos, 0u);
  EXPECT_EQ(Tenths("99999999999999.9").value, 999999999999999);
  EXPECT_FALSE(Tenths("100000000000000.0").ok);
  EXPECT_FALSE(Tenths("99999999999999999999999.9").ok);

  EXPECT_TRUE(Integer("0").ok);
  EXPECT_FALSE(Integer("07").ok);
  EXPECT_FALSE(Tenths("00.5").ok);
  EXPECT_EQ(Tenths("0.5").value, 5);
  // Nothing to read is no number.
  for (std::string_view empty : {"", " ", "-", ".", "x1"}) {
    EXPECT_FALSE(Integer(empty, true).ok) << '"' << empty << '"';
    EXPECT_FALSE(Tenths(empty, true).ok) << '"' << empty << '"';
  }
}

TEST(ReportFields, AMinusOnlyWhereTheFigureIsSignedAndNeverBeforeZero) {
  EXPECT_EQ(Integer("-12", true).value, -12);
  EXPECT_EQ(Tenths("-0.1", true).value, -1);
  EXPECT_FALSE(Integer("-12").ok);
  EXPECT_FALSE(Tenths("-0.1").ok);
  // The console's "%d" and "%.1f" never print a negative zero or a plus.
  EXPECT_FALSE(Integer("-0", true).ok);
  EXPECT_FALSE(Tenths("-0.0", true).ok);
  EXPECT_FALSE(Integer("+1", true).ok);
  EXPECT_FALSE(Integer("--1", true).ok);
}

TEST(ReportFields, ARealEndsAfterItsOneDecimal) {
  // So reals printed one against the other part where the console meant.
  const Got first = Tenths("12.34.5");
  EXPECT_EQ(first.value, 123);
  EXPECT_EQ(first.pos, 4u);
  EXPECT_FALSE(Tenths("12").ok);
  EXPECT_FALSE(Tenths("12.").ok);
  EXPECT_FALSE(Tenths("12.x").ok);
  EXPECT_FALSE(Tenths(".5").ok);
}

TEST(ReportFields, AFieldIsFilledExactlyOrOverrunWithoutABlank) {
  int64_t v = 0;
  EXPECT_TRUE(Field("  1.5", 5, Kind::kReal, v));
  EXPECT_EQ(v, 15);
  EXPECT_TRUE(Field("   42", 5, Kind::kInteger, v));
  EXPECT_EQ(v, 42);
  EXPECT_TRUE(Field("123456.7", 5, Kind::kReal, v));  // wider than its field
  EXPECT_EQ(v, 1234567);
  EXPECT_FALSE(Field(" 1.5", 5, Kind::kReal, v));        // a field cut short
  EXPECT_FALSE(Field(" 123456.7", 5, Kind::kReal, v));   // wider, yet padded
  EXPECT_FALSE(Field("   1.5", 5, Kind::kReal, v));      // a blank too many
  EXPECT_FALSE(WholeField("  1.5 ", Kind::kReal, false, v));
  EXPECT_FALSE(WholeField("     ", Kind::kInteger, false, v));

  // Fields one after the other, as the climate lines have them.
  const std::string_view line = " 21.5 45.0-12.3";
  size_t pos = 0;
  int64_t a = 0, b = 0, c = 0;
  ASSERT_TRUE(ReadField(line, pos, 5, Kind::kReal, false, a));
  ASSERT_TRUE(ReadField(line, pos, 5, Kind::kReal, false, b));
  ASSERT_TRUE(ReadField(line, pos, 5, Kind::kReal, true, c));
  EXPECT_EQ(pos, line.size());
  EXPECT_EQ(a, 215);
  EXPECT_EQ(b, 450);
  EXPECT_EQ(c, -123);
}

TEST(ReportFields, DatesAreDaysOfTheCalendarAndTimesOfTheClock) {
  Stamp s;
  ASSERT_TRUE(ReadDate("29-02-24", s));
  EXPECT_EQ(s.year, 2024);
  EXPECT_EQ(s.month, 2);
  EXPECT_EQ(s.day, 29);
  EXPECT_TRUE(ReadDate("31-12-99", s));
  EXPECT_EQ(s.year, 2099);
  for (std::string_view bad : {"29-02-23", "31-04-26", "00-01-26", "01-00-26", "01-13-26", "32-01-26", "1-01-26 ",
                               "01/01/26", "01-01-2", "01-01-266", "0a-01-26", ""}) {
    Stamp untouched;
    EXPECT_FALSE(ReadDate(bad, untouched)) << bad;
    EXPECT_EQ(untouched.year, 0) << bad;
  }

  ASSERT_TRUE(ReadTime("23:59:59", s));
  EXPECT_EQ(s.hour * 3600 + s.minute * 60 + s.second, 86399);
  EXPECT_TRUE(ReadTime("00:00:00", s));
  for (std::string_view bad : {"24:00:00", "12:60:00", "12:00:60", "12:00", "12-00-00", " 2:00:00", "12:00:00 "}) {
    Stamp untouched;
    untouched.hour = 7;
    EXPECT_FALSE(ReadTime(bad, untouched)) << bad;
    EXPECT_EQ(untouched.hour, 7) << bad;
  }
}
