#include <string>

#include "VktFixture.h"

namespace {

ClockReadingRec Reading(int y, int mo, int d, int h, int mi, int s) {
  ClockReadingRec r;
  r.Year = static_cast<uint16_t>(y), r.Month = static_cast<uint16_t>(mo), r.Day = static_cast<uint16_t>(d);
  r.Hour = static_cast<uint16_t>(h), r.Minute = static_cast<uint16_t>(mi), r.Second = static_cast<uint16_t>(s);
  return r;
}

}  // namespace

TEST(ScreenTextFormat, DateAndTime) {
  const ClockReadingRec march = Reading(2009, 3, 5, 14, 3, 9);
  EXPECT_EQ(FormatDate(march, -1), "05-03-09");
  EXPECT_EQ(FormatDate(march, 0), "05-03-2009");
  EXPECT_EQ(FormatDate(Reading(2007, 12, 10, 0, 0, 0), -7), "10-12-07");
  EXPECT_EQ(FormatDate(Reading(2026, 12, 31, 0, 0, 0), -1), "31-12-26");
  EXPECT_EQ(FormatDate(Reading(2000, 1, 1, 0, 0, 0), -1), "01-01-00");

  EXPECT_EQ(FormatTime(march, -1), "14:03:09");  // no trailing blank
  EXPECT_EQ(FormatTime(march, 7), "14:03:09.07");
  EXPECT_EQ(FormatTime(march, 57), "14:03:09.57");
  EXPECT_EQ(FormatTime(Reading(2009, 1, 1, 0, 0, 0), 0), "00:00:00.00");
}

TEST(ScreenTextFormat, PaddingCentringAndRule) {
  const ShortStr line = PadToWidth("Quendal AG", "05-03-09", 55);
  ASSERT_EQ(line.size(), 55u);
  EXPECT_EQ(line.view().substr(0, 10), "Quendal AG");
  EXPECT_EQ(line.view().substr(47), "05-03-09");  // columns 48..55
  // Pieces wider than the width are kept whole, side by side.
  EXPECT_EQ(PadToWidth("abcdef", "ghij", 8), "abcdefghij");
  // Never beyond 255 characters.
  EXPECT_EQ(PadToWidth(ShortStr(std::string(200, 'a')), ShortStr(std::string(100, 'b')), 400).size(), 255u);

  const std::string text38 = "Vekton System Test * V 3.02v, 10.12.07";
  ASSERT_EQ(text38.size(), 38u);
  EXPECT_EQ(CenterText(ShortStr(text38), 55), std::string(8, ' ') + text38);
  EXPECT_EQ(CenterText(ShortStr(std::string(60, 'x')), 55), std::string(60, 'x'));
  EXPECT_EQ(CenterText("abc", 8), "  abc");  // nothing after the text

  EXPECT_EQ(RuleLine(), std::string(55, '_'));
  EXPECT_EQ(RealStr(23.5, 5, 1), " 23.5");
  EXPECT_EQ(RealStr(-0.1, 5, 1), " -0.1");
  EXPECT_EQ(RealStr(3276.8, 5, 1), "3276.8");
}

TEST_F(VktTest, RightAlignedAndColumn11) {
  GotoXY(3, 4);
  WriteRightAligned("abcdef", 55);
  EXPECT_EQ(Text(50, 4, 6), "abcdef");
  EXPECT_EQ(Text(1, 4, 49), std::string(49, ' '));
  EXPECT_EQ(WhereX(), 1);
  EXPECT_EQ(WhereY(), 5);

  // Wider than the column: the text follows the cursor instead.
  GotoXY(5, 7);
  WriteRightAligned(ShortStr(std::string(60, 'w')), 55);
  EXPECT_EQ(Text(5, 7, 60), std::string(60, 'w'));

  GotoXY(40, 9);
  WriteText(AtColumn11("Direct Commands                 1"));
  EXPECT_EQ(Text(11, 9, 34), "Direct Commands                 1 ");
}

TEST_F(VktTest, EchoLineCopiesIntoTheResultFileWhileLogging) {
  ASSERT_EQ(TextFileCreateNew(ResultFile, "1234_00.spf"), 0);
  EchoLine("not logged");
  LogToFile = true;
  EchoLine("first");
  EchoLine("second");
  EXPECT_EQ(vt::FileLines("1234_00.spf"), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(Text(1, 1, 10), "not logged");
  EXPECT_EQ(Text(1, 2, 5), "first");
  EXPECT_EQ(Text(1, 3, 6), "second");
  EXPECT_EQ(WhereY(), 4);

  // A file that can no longer be written costs nothing on the screen.
  vt::SetReadOnly(true);
  EchoLine("disk full");
  EXPECT_EQ(Text(1, 4, 9), "disk full");
  EXPECT_EQ(vt::FileLines("1234_00.spf").size(), 2u);

  // Logging on without an open file is harmless too.
  TextFileClose(ResultFile);
  EchoLine("no file");
  EXPECT_EQ(Text(1, 5, 7), "no file");
}

TEST_F(VktTest, BannerLinesAndColumns) {
  OperatorName = "Tester";
  SerialNumber = 1234;
  vt::SetDate(2009, 3, 5);
  vt::SetTimeOfDay(14, 3, 9, 0);
  GotoXY(30, 20);
  WriteText("old");
  ShowBanner();

  // The banner's window, columns 10..70, stays in force.
  EXPECT_EQ(WindMin(), 0x0009);
  EXPECT_EQ(WindMax(), 0x1845);
  EXPECT_EQ(Text(30, 20, 3), "   ");
  // Column 55 of the window is screen column 64.
  EXPECT_EQ(Text(1, 1, 80), std::string(9, ' ') + "Quendal R&D" + std::string(36, ' ') + "05-03-09" +
                                 std::string(16, ' '));
  EXPECT_EQ(Text(10, 2, 7), std::string(kAuthorCredit));
  EXPECT_LE(std::string(kAuthorCredit).size(), 10u);
  EXPECT_EQ(Text(57, 2, 8), "14:03:09");
  EXPECT_EQ(Text(1, 3, 80), std::string(80, ' '));
  EXPECT_EQ(Text(10, 4, 52), "      Vekton-Lundoga-VevuZavo   *   V 2.08, 03.12.A1");
  EXPECT_EQ(Text(10, 5, 56), std::string(55, '_') + " ");
  EXPECT_EQ(Text(10, 6, 10), "Quendal AG");
  EXPECT_EQ(Text(55, 6, 10), "VKT 0000.0");
  EXPECT_EQ(Text(10, 7, 6), "Tester");
  EXPECT_EQ(Text(59, 7, 6), "# 1234");
  EXPECT_EQ(Text(1, 8, 80), std::string(80, ' '));
  EXPECT_EQ(WhereX(), 1);
  EXPECT_EQ(WhereY(), 9);
}

TEST_F(VktTest, ReportHeaderNineLinesOnScreenAndInFile) {
  OperatorName = "Default User";
  SerialNumber = 1234;
  FirmwareVersion = 7104;
  vt::SetDate(2009, 3, 5);
  vt::SetTimeOfDay(14, 3, 9, 0);
  ASSERT_EQ(TextFileCreateNew(ResultFile, "1234_00.spf"), 0);
  LogToFile = true;
  WriteText("left over");
  WriteReportHeader("Handling Times Statistics");

  const std::vector<std::string> expected = {
      std::string(55, '_'),
      "Quendal AG" + std::string(37, ' ') + "05-03-09",
      "Default User" + std::string(35, ' ') + "14:03:09",
      "",
      std::string(8, ' ') + "Vekton System Test * V 3.02v, 10.12.07",
      std::string(15, ' ') + "Handling Times Statistics",
      "",
      "SNr. # 1234" + std::string(30, ' ') + "Firmware 7.1.4",
      "",
  };
  EXPECT_EQ(vt::FileLines("1234_00.spf"), expected);
  for (int row = 1; row <= 9; ++row) {
    const std::string& e = expected[static_cast<size_t>(row - 1)];
    EXPECT_EQ(Text(1, row, 80), e + std::string(80 - e.size(), ' ')) << "row " << row;
  }
  EXPECT_EQ(WhereY(), 10);

  auto firmwareField = [](uint16_t version) {
    FirmwareVersion = version;
    ClrScr();
    WriteReportHeader("t");
    std::string row = gScreen.Text(1, 8, 55);
    return row.substr(row.find("Firmware"));
  };
  LogToFile = false;
  EXPECT_EQ(firmwareField(3215), "Firmware 3.2.15");
  EXPECT_EQ(firmwareField(0), "Firmware 0.0.0");
  EXPECT_EQ(firmwareField(65535), "Firmware 65.5.35");
  EXPECT_EQ(vt::FileLines("1234_00.spf").size(), 9u);
}
