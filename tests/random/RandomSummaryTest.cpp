// The histogram, the summary and the result file: its name, its sections,
// and what happens when it cannot be created or written.
#include <algorithm>
#include <climits>

#include "RandomFixture.h"

namespace {

void ResetStats() {
  for (HandlingGroup& g : HandlingStats) {
    g = HandlingGroup{};
    g.ReadyMin = g.PlateMin = INT32_MAX;
  }
  for (auto& bin : TimeHistogram)
    for (auto& c : bin) c = 0;
  AccessNumber = LoadCount = UnloadCount = 0;
  CarPosErrors = 0;
  WaitTime = 0;
}

std::string Pad(const std::string& left, const std::string& right) {
  return left + std::string(55 - left.size() - right.size(), ' ') + right;
}

// The lines of a file between the line after `from` and the first line
// equal to `to` (exclusive).
std::vector<std::string> Between(const std::vector<std::string>& file, const std::string& from, const std::string& to) {
  auto start = std::find(file.begin(), file.end(), from);
  if (start == file.end()) return {};
  auto stop = std::find(start + 1, file.end(), to);
  return std::vector<std::string>(start + 1, stop);
}

const char* kColumns = "[s]   Mean Min. Max.      Mean Min. Max.";

}  // namespace

TEST_F(RandomTest, TheHistogramRunsFromThePlateMinimumToTheReadyMaximum) {
  ResetStats();
  OpenResultFile();
  HandlingGroup& all = HandlingStats[kGroupAll];
  all.PlateMin = 260;   // bin 5, less two: from bin 3
  all.ReadyMax = 1234;  // bin 24, and two more: to bin 26
  TimeHistogram[3][kReadyAll] = 1;
  TimeHistogram[3][kReadyUnload] = 1;
  TimeHistogram[3][kPlateAll] = 2;
  TimeHistogram[3][kPlateLoad] = 2;
  TimeHistogram[24][kReadyAll] = 12;
  TimeHistogram[24][kReadyLoad] = 7;
  TimeHistogram[24][kReadyUnload] = 5;
  Keys({" "});
  RandomAccessSummary();

  const auto file = vt::FileLines("1234_00.spf");
  const auto rows = Between(file, kColumns, "");
  ASSERT_EQ(rows.size(), 24u);
  EXPECT_EQ(rows.front(), "  1.5    1    0    1         2    2    0");
  EXPECT_EQ(rows[1], "  2.0    0    0    0         0    0    0");
  EXPECT_EQ(rows[21], " 12.0   12    7    5         0    0    0");
  EXPECT_EQ(rows.back(), " 13.0    0    0    0         0    0    0");
  // Into the file only: the screen shows the summary.
  EXPECT_FALSE(Contains(AllScreens(), "Mean Min. Max."));
}

TEST_F(RandomTest, TheHistogramStopsAtBin600AndIsEmptyWithoutAnyAccess) {
  ResetStats();
  OpenResultFile();
  HandlingStats[kGroupAll].PlateMin = 40;     // below 1 s: from bin 0
  HandlingStats[kGroupAll].ReadyMax = 40000;  // 400 s: bin 802 without the limit
  TimeHistogram[600][kReadyAll] = 1;
  TimeHistogram[600][kReadyLoad] = 1;
  Keys({" "});
  RandomAccessSummary();
  auto rows = Between(vt::FileLines("1234_00.spf"), kColumns, "");
  ASSERT_EQ(rows.size(), 601u);
  EXPECT_EQ(rows.front(), "  0.0    0    0    0         0    0    0");
  EXPECT_EQ(rows.back(), "300.0    1    1    0         0    0    0");

  // Quit before the first access: the range is empty.
  Fresh();
  ResetStats();
  OpenResultFile();
  Keys({" "});
  RandomAccessSummary();
  const auto file = vt::FileLines("1234_00.spf");
  rows = Between(file, kColumns, "");
  EXPECT_TRUE(rows.empty());
  const auto at = std::find(file.begin(), file.end(), kColumns);
  ASSERT_NE(at, file.end());
  ASSERT_NE(at + 2, file.end());
  EXPECT_EQ(*(at + 1), "");
  EXPECT_EQ(*(at + 2), "_______________________________________________________");
}

TEST_F(RandomTest, TheSummaryLinesAreExactAndAMeanWithoutCountShowsTheSums) {
  ResetStats();
  OpenResultFile();
  XferMode = 'N';
  InverseMode = 'Y';
  PlateTrace = false;
  NegativeAddressing = true;
  BiLevel = true;
  AccessNumber = 4;
  LoadCount = 4;
  UnloadCount = 0;
  WaitTime = 5;
  CarPosErrors = 1;
  HandlingGroup& all = HandlingStats[kGroupAll];
  all.ReadyMin = 512, all.ReadyMax = 846, all.ReadySum = 26.0;
  all.PlateMin = 300, all.PlateMax = 410, all.PlateSum = 14.0;
  HandlingStats[kGroupLoad] = all;
  HandlingGroup& unload = HandlingStats[kGroupUnload];
  unload.ReadySum = 3.5;  // sums without a count: shown as they are
  unload.PlateSum = 1.3;
  Keys({" "});
  RandomAccessSummary();

  const std::vector<std::string> expected = {
      Pad("Access: ", "No Gate Cycle"),
      Pad("Cassettes: ", "Filled Inverted Test Mode"),
      Pad("PlateTrace: ", "Not Activated"),
      Pad("Addressing: ", "Cassettes Look-Up Table"),
      Pad("Cassette Levels: ", "Bi-Level"),
      "",
      "Access Procedure:       Fast",
      "",
      "Total Accesses:            4",
      "Access Interval [Sec]:     5",
      "Car. Pos. Errs             1",
      "",
      "Min. Access Time:        5.1  PR  3.0",
      "Max. Access Time:        8.5  PR  4.1",
      "Mean Access Time:        6.5  PR  3.5",
      "",
      "Min. Load Time:          5.1  PR  3.0",
      "Max. Load Time:          8.5  PR  4.1",
      "Mean Load Time:          6.5  PR  3.5",
      "",
      "Min. UnLoad Time:      21474836.5  PR 21474836.5",
      "Max. UnLoad Time:        0.0  PR  0.0",
      "Mean UnLoad Time:        3.5  PR  1.3",
  };
  const auto file = vt::FileLines("1234_00.spf");
  const auto title = std::find(file.begin(), file.end(), "                 Complete Test Summary");
  ASSERT_NE(title, file.end());
  ASSERT_EQ(file.end() - title, static_cast<long>(expected.size()) + 4);
  EXPECT_EQ(std::vector<std::string>(title + 4, file.end()), expected);

  // On the screen the same lines, the counters and times from column 11.
  const std::string screen = WholeScreen();
  EXPECT_TRUE(Contains(screen, "\n" + Pad("PlateTrace: ", "Not Activated") + "\n")) << screen;
  EXPECT_TRUE(Contains(screen, "\n          Total Accesses:            4\n")) << screen;
  EXPECT_TRUE(Contains(screen, "\n          Mean UnLoad Time:        3.5  PR  1.3\n")) << screen;

  // Shovel handling versus the transfer station, in the first line.
  Fresh();
  ResetStats();
  OpenResultFile();
  XferMode = 'Y';
  Keys({" "});
  RandomAccessSummary();
  const auto again = vt::FileLines("1234_00.spf");
  EXPECT_NE(std::find(again.begin(), again.end(), Pad("Access: ", "Including Gate Cycle")), again.end());
  EXPECT_FALSE(ResultFile.IsOpen());
  EXPECT_FALSE(LogToFile);
}

TEST_F(RandomTest, TwoRunsMakeTwoFilesAndAnExistingFileIsNeverWrittenOver) {
  for (int run = 0; run < 2; ++run) {
    EscAtAccess(4);
    Keys({"Y", "0\r", "N"});
    ASSERT_TRUE(Run()) << run;
  }
  const auto first = vt::FileLines("1234_00.spf");
  const auto second = vt::FileLines("1234_01.spf");
  ASSERT_FALSE(first.empty());
  ASSERT_FALSE(second.empty());
  for (const auto* file : {&first, &second}) {
    EXPECT_NE(std::find(file->begin(), file->end(), "Total Accesses:            2"), file->end());
    EXPECT_TRUE(StartsWith(file->back(), "Mean UnLoad Time:")) << file->back();
  }
  EXPECT_FALSE(vt::FileExists("1234_02.spf"));

  // A file of the first name that is there already stays as it is.
  Fresh();
  vt::PutFile("1234_00.spf", "an earlier test\n");
  EscAtAccess(3);
  Keys({"Y", "0\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_EQ(vt::FileLines("1234_00.spf"), std::vector<std::string>{"an earlier test"});
  EXPECT_FALSE(vt::FileLines("1234_01.spf").empty());
}

TEST_F(RandomTest, AReadOnlyFolderIsReportedAndTheTestGoesOnWithoutAFile) {
  vt::SetReadOnly(true);
  EscAtAccess(5);
  Keys({"Y", "0\r", "N", " "});
  ASSERT_TRUE(Run());
  ASSERT_GE(screens.size(), 4u);
  const std::string atKey = screens[3];
  EXPECT_TRUE(Contains(atKey,
                       "\nResult file 1234_00.spf cannot be created (error 13)\n"
                       "The test goes on without a result file. Press any key"))
      << atKey;
  EXPECT_FALSE(vt::FileExists("1234_00.spf"));
  EXPECT_EQ(Accesses().size(), 5u);
  // The summary is still shown, and says again that there is no file.
  const std::string end = WholeScreen();
  EXPECT_TRUE(Contains(end, "Mean UnLoad Time:")) << end;
  EXPECT_TRUE(Contains(end, "\nResult file 1234_00.spf cannot be created (error 13)\n")) << end;
}

TEST_F(RandomTest, ADiskThatFillsUpDuringTheRunKeepsTheLinesWrittenSoFar) {
  int seen = 0;
  onLine = [&seen](const std::string& line) {
    if (!IsAccessRelay(line)) return;
    ++seen;
    if (seen == 25) vt::SetReadOnly(true);  // the disk is full from here on
    if (seen == 41) vt::PushKeys("\x1b");
  };
  Keys({"Y", "5\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_EQ(Accesses().size(), 41u);  // the test went on

  const auto file = vt::FileLines("1234_00.spf");
  // Both report headers, the blank line between them and the column
  // header, then the climate lines written before the disk filled up.
  ASSERT_GE(file.size(), 20u);
  EXPECT_EQ(file[19], "Temp  Hmd   CO2   Opt");
  EXPECT_GE(file.size(), 21u);
  for (size_t i = 20; i < file.size(); ++i) EXPECT_EQ(file[i], "  0.0  0.0  0.0  0.0");
  EXPECT_TRUE(Contains(AllScreens(), "\nResult file 1234_00.spf: write error 28, later lines are lost\n"));
  EXPECT_FALSE(ResultFile.IsOpen());
}

TEST_F(RandomTest, TheRunsPageLandsBesideItsFileAndNothingIsWrittenOver) {
  EscAtAccess(4);
  Keys({"Y", "0\r", "N"});
  ASSERT_TRUE(Run());
  const auto file = vt::FileLines("1234_00.spf");
  ASSERT_FALSE(file.empty());
  EXPECT_TRUE(StartsWith(file.back(), "Mean UnLoad Time:")) << file.back();
  ASSERT_TRUE(vt::FileExists("1234_00.html"));
  std::string page;
  for (const std::string& line : vt::FileLines("1234_00.html")) page += line + "\n";
  EXPECT_TRUE(Contains(page, "<svg")) << page.substr(0, 400);
  EXPECT_TRUE(Contains(page, "1234"));
  // One line under the summary says where the page is.
  EXPECT_TRUE(Contains(AllScreens(), "Mean UnLoad Time:")) << AllScreens();
  EXPECT_TRUE(Contains(AllScreens(), "\nReport page: 1234_00.html")) << AllScreens();

  // A page of the next run's name that is there already stays as it is.
  Fresh();
  vt::PutFile("1234_00.spf", "an earlier test\n");
  vt::PutFile("1234_01.html", "an earlier page\n");
  EscAtAccess(3);
  Keys({"Y", "0\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_TRUE(StartsWith(vt::FileLines("1234_01.spf").back(), "Mean UnLoad Time:"));
  EXPECT_EQ(vt::FileLines("1234_01.html"), std::vector<std::string>{"an earlier page"});
  EXPECT_TRUE(Contains(AllScreens(), "\nReport page 1234_01.html exists already and was left as it is"))
      << AllScreens();
}

TEST_F(RandomTest, APageThatCannotBeWrittenIsOneLineAndNoFileMeansNoPage) {
  // The disk fills up in the middle of the run: the file keeps what it got,
  // the page cannot be written, and the screen says so.
  int seen = 0;
  onLine = [&seen](const std::string& line) {
    if (!IsAccessRelay(line)) return;
    if (++seen == 25) vt::SetReadOnly(true);
    if (seen == 30) vt::PushKeys("\x1b");
  };
  Keys({"Y", "5\r", "N"});
  ASSERT_TRUE(Run());
  EXPECT_FALSE(vt::FileExists("1234_00.html"));
  EXPECT_TRUE(Contains(AllScreens(), "\nReport page 1234_00.html cannot be written (error 13)")) << AllScreens();

  // Without a result file there is no page, and no line about one.
  Fresh();
  vt::SetReadOnly(true);
  EscAtAccess(3);
  Keys({"Y", "0\r", "N", " "});
  ASSERT_TRUE(Run());
  EXPECT_FALSE(Contains(AllScreens(), "Report page"));
}
