// Result files the console itself wrote, read back: a run against the
// simulated store, and the console's writers fed with figures at the edges
// of what they can print. What the reader finds must be what the console
// had when it wrote the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

#include "ReaderSupport.h"
#include "VKT_Lib3/Globals.h"
#include "VKT_Lib3/ScreenText.h"
#include "console/RandomAccess.h"
#include "platform/virtual/Virtual.h"

using report::Group;
using report::ReadStatus;

namespace {

// The summary and the histogram as the console had them.
void ExpectConsoleFigures(const ConsoleFile& f, const report::Run& run) {
  const report::Summary& s = run.summary;
  EXPECT_EQ(s.totalAccesses, f.accessNumber);
  EXPECT_EQ(s.intervalSeconds, f.waitTime);
  EXPECT_EQ(s.carPosErrors, f.carPosErrors);
  const uint16_t counts[3] = {f.accessNumber, f.loadCount, f.unloadCount};
  for (int g = 0; g < 3; ++g) {
    const HandlingGroup& h = f.stats[g];
    SCOPED_TRACE(g);
    EXPECT_EQ(s.minimum[g].ready, Printed(h.ReadyMin / 100.0));
    EXPECT_EQ(s.minimum[g].plateReady, Printed(h.PlateMin / 100.0));
    EXPECT_EQ(s.maximum[g].ready, Printed(h.ReadyMax / 100.0));
    EXPECT_EQ(s.maximum[g].plateReady, Printed(h.PlateMax / 100.0));
    const double n = counts[g] ? counts[g] : 1;
    EXPECT_EQ(s.mean[g].ready, Printed(h.ReadySum / n));
    EXPECT_EQ(s.mean[g].plateReady, Printed(h.PlateSum / n));
  }
  int64_t binned = 0;
  for (size_t i = 0; i < run.histogram.size(); ++i) {
    const report::HistogramRow& row = run.histogram[i];
    if (i > 0) {
      EXPECT_EQ(row.bin, run.histogram[i - 1].bin + 1);
    }
    ASSERT_LE(row.bin, 600);
    const auto& bin = f.bins[static_cast<size_t>(row.bin)];
    EXPECT_EQ(row.ready[0], bin[kReadyAll]) << row.bin;
    EXPECT_EQ(row.ready[1], bin[kReadyLoad]) << row.bin;
    EXPECT_EQ(row.ready[2], bin[kReadyUnload]) << row.bin;
    EXPECT_EQ(row.plateReady[0], bin[kPlateAll]) << row.bin;
    EXPECT_EQ(row.plateReady[1], bin[kPlateLoad]) << row.bin;
    EXPECT_EQ(row.plateReady[2], bin[kPlateUnload]) << row.bin;
    binned += row.ready[0];
  }
  EXPECT_EQ(run.UncountedAccesses(), std::max<int64_t>(binned - f.accessNumber, 0));
}

// The climate lines of the file as its text has them: 5-wide columns.
size_t ExpectClimateOfText(const ConsoleFile& f, const report::Run& run) {
  const auto start = std::find(f.lines.begin(), f.lines.end(), "Temp  Hmd   CO2   Opt");
  EXPECT_NE(start, f.lines.end());
  size_t n = 0;
  for (auto l = start + 1; l != f.lines.end() && !l->empty(); ++l, ++n) {
    if (n >= run.climate.size()) break;
    const report::ClimateReading& c = run.climate[n];
    EXPECT_EQ(c.line, static_cast<int>(l - f.lines.begin()) + 1);
    EXPECT_EQ(c.temperature, std::atof(l->substr(0, 5).c_str())) << *l;
    EXPECT_EQ(c.humidity, std::atof(l->substr(5, 5).c_str())) << *l;
    EXPECT_EQ(c.co2, std::atof(l->substr(10, 5).c_str())) << *l;
    EXPECT_EQ(c.opt, std::atof(l->substr(15, 5).c_str())) << *l;
  }
  EXPECT_EQ(run.climate.size(), n);
  return n;
}

}  // namespace

TEST(ReaderConsoleFile, ARunAgainstTheStoreReadsAsTheConsoleHadIt) {
  const ConsoleFile& f = ShortStoreRun();
  ASSERT_GT(f.accessNumber, 50);
  for (const char* eol : {"\n", "\r\n"}) {
    SCOPED_TRACE(eol[0] == '\r' ? "CR LF" : "LF");
    const report::ReadResult r = Read(f.Bytes(eol));
    ASSERT_EQ(r.status, ReadStatus::kRead) << r.error.text;
    const report::Run& run = r.run;
    EXPECT_TRUE(run.complete) << run.incompleteReason;
    EXPECT_TRUE(run.incompleteReason.empty());
    EXPECT_TRUE(run.problems.empty()) << run.problems[0].line << ": " << run.problems[0].text;
    EXPECT_EQ(run.file, "1234_00.spf");
    ASSERT_EQ(run.headers.size(), 4u);
    EXPECT_EQ(run.headers[3].title, "Complete Test Summary");
    EXPECT_EQ(run.Serial(), 1234);
    EXPECT_EQ(run.Firmware(), "7.1.20");
    EXPECT_EQ(run.OperatorName(), "Default User");
    // The virtual clock starts at 10:00:00 on 8 Dec 2026.
    EXPECT_EQ(run.Start().Date(), "2026-12-08");
    EXPECT_EQ(run.Start().Time().substr(0, 5), "10:00");
    const int64_t minutes = (run.End().Seconds() - run.Start().Seconds()) / 60;
    EXPECT_TRUE(minutes >= 30 && minutes <= 31) << minutes;

    EXPECT_GE(ExpectClimateOfText(f, run), 25u);
    EXPECT_FALSE(run.histogram.empty());
    ExpectConsoleFigures(f, run);
    const report::Summary& s = run.summary;
    EXPECT_TRUE(s.complete);
    EXPECT_EQ(s.access, "Including Gate Cycle");
    EXPECT_EQ(s.procedure, "Fast");
    for (Group g : {report::kAll, report::kLoad, report::kUnload}) {
      EXPECT_TRUE(s.ReadyMeasured(g));
      EXPECT_TRUE(s.PlateReadyMeasured(g));
      EXPECT_TRUE(s.MeanMeasured(g));
    }
  }
}

TEST(ReaderConsoleFile, EveryCutOfItIsIncompleteWithTheWholeFilesFigures) {
  const ConsoleFile& f = ShortStoreRun();
  for (const char* eol : {"\n", "\r\n"}) {
    SCOPED_TRACE(eol[0] == '\r' ? "CR LF" : "LF");
    const std::string bytes = f.Bytes(eol);
    const report::ReadResult full = Read(bytes);
    ASSERT_TRUE(full.run.complete);
    // The first header is nine lines; a file that ends in it is not read.
    size_t headerEnd = 0;
    for (int i = 0; i < 9; ++i) headerEnd += f.lines[static_cast<size_t>(i)].size() + std::strlen(eol);
    for (size_t n = 0; n < bytes.size(); ++n) {
      const report::ReadResult r = Read(std::string_view(bytes).substr(0, n));
      if (n < headerEnd) {
        ASSERT_EQ(r.status, ReadStatus::kNotResultFile) << n;
        ASSERT_FALSE(r.error.text.empty()) << n;
        continue;
      }
      ASSERT_EQ(r.status, ReadStatus::kRead) << n;
      ASSERT_FALSE(r.run.complete) << n;
      ASSERT_FALSE(r.run.incompleteReason.empty()) << n;
      ASSERT_EQ(Disagreement(r.run, full.run), "") << "cut after " << n << " bytes";
      // The only problem a cut makes is its own last line.
      const bool cutInLine = bytes[n - 1] != '\n';
      ASSERT_EQ(r.run.problems.size(), cutInLine ? 1u : 0u) << n;
    }
  }
}

TEST(ReaderConsoleFile, ADayLongRunReadsWhole) {
  const ConsoleFile f = RunAgainstStore(24 * 60 * kMinuteUs);
  const report::ReadResult r = Read(f.Bytes("\r\n"));
  ASSERT_EQ(r.status, ReadStatus::kRead);
  EXPECT_TRUE(r.run.complete) << r.run.incompleteReason;
  EXPECT_TRUE(r.run.problems.empty());
  EXPECT_GT(ExpectClimateOfText(f, r.run), 1300u);
  ExpectConsoleFigures(f, r.run);
  EXPECT_EQ(r.run.End().Date(), "2026-12-09");
}

TEST(ReaderConsoleFile, NoCountedAccessShowsTheResetFiguresAsNotMeasured) {
  // Quit before the first access, with the interval typed as -1 (seconds).
  const ConsoleFile f = WriteFromFigures([] { WaitTime = -1; });
  const report::ReadResult r = Read(f.Bytes());
  ASSERT_EQ(r.status, ReadStatus::kRead);
  const report::Run& run = r.run;
  EXPECT_TRUE(run.complete) << run.incompleteReason;
  EXPECT_TRUE(run.problems.empty());
  EXPECT_TRUE(run.climate.empty());
  EXPECT_TRUE(run.histogram.empty());  // the lowest bin lies far above the highest
  for (Group g : {report::kAll, report::kLoad, report::kUnload}) {
    EXPECT_EQ(run.summary.minimum[g].ready, report::kNoMinimum);
    EXPECT_EQ(run.summary.minimum[g].plateReady, report::kNoMinimum);
    EXPECT_EQ(run.summary.maximum[g].ready, 0.0);
    EXPECT_FALSE(run.summary.ReadyMeasured(g));
    EXPECT_FALSE(run.summary.PlateReadyMeasured(g));
    EXPECT_FALSE(run.summary.MeanMeasured(g));
  }
  EXPECT_EQ(run.summary.totalAccesses, 0);
  EXPECT_EQ(run.summary.intervalSeconds, -1);
  EXPECT_TRUE(run.summary.hasIntervalSeconds);
  EXPECT_EQ(run.UncountedAccesses(), 0);
}

TEST(ReaderConsoleFile, FiguresAtTheEdgesOfTheirFields) {
  // Counters of five digits touching, the widest 32-bit counters, a run
  // whose PlateReady was not timed, times beyond the 5-wide field.
  const ConsoleFile f = WriteFromFigures([] {
    for (int b = 0; b <= 600; ++b) {
      uint16_t* bin = TimeHistogram[b];
      bin[kReadyAll] = 65535, bin[kReadyLoad] = 40000, bin[kReadyUnload] = 30000;
      bin[kPlateAll] = static_cast<uint16_t>(10000 + b), bin[kPlateLoad] = static_cast<uint16_t>(b);
      bin[kPlateUnload] = 10000;
    }
    TimeHistogram[7][kReadyAll] = 12345, TimeHistogram[7][kReadyLoad] = 12340, TimeHistogram[7][kReadyUnload] = 5;
    HandlingGroup& all = HandlingStats[kGroupAll];
    all.ReadyMin = 11, all.ReadyMax = INT32_MAX, all.ReadySum = 123456789.25;
    all.PlateMin = 0, all.PlateMax = 0, all.PlateSum = 0;
    AccessNumber = 65535;
    LoadCount = 65535;
    UnloadCount = 1;
    HandlingStats[kGroupLoad] = all;
    WaitTime = INT32_MIN;
    CarPosErrors = 1234567;
  });
  const report::ReadResult r = Read(f.Bytes());
  ASSERT_EQ(r.status, ReadStatus::kRead);
  const report::Run& run = r.run;
  EXPECT_TRUE(run.complete) << run.incompleteReason;
  EXPECT_TRUE(run.problems.empty()) << run.problems[0].line << ": " << run.problems[0].text;
  ASSERT_EQ(run.histogram.size(), 601u);
  EXPECT_EQ(run.histogram.front().bin, 0);
  EXPECT_EQ(run.histogram.back().bin, 600);
  ExpectConsoleFigures(f, run);
  EXPECT_EQ(run.summary.maximum[report::kAll].ready, 21474836.5);
  EXPECT_EQ(run.summary.intervalSeconds, INT32_MIN);
  EXPECT_TRUE(run.summary.hasIntervalSeconds);
  EXPECT_EQ(run.summary.carPosErrors, 1234567);
  EXPECT_TRUE(run.summary.ReadyMeasured(report::kAll));
  EXPECT_FALSE(run.summary.PlateReadyMeasured(report::kAll));  // 0.0: not timed
  EXPECT_FALSE(run.summary.ReadyMeasured(report::kUnload));
}

TEST(ReaderConsoleFile, ClimateValuesWiderThanTheirColumns) {
  // Temperatures from the sign-and-magnitude word at both ends, and words
  // a garbled answer can make as wide as 31 bits.
  const std::vector<std::array<double, 4>> climate = {
      {3276.8, 6553.5, 655.35, 65535}, {-100.5, 0, 0, 0},
      {-0.1, 99.9, 5.0, 21},           {-214745087.9, 214748364.7, 21474836.47, 2147483647},
      {23.5, 1234.5, 0.04, 100000},
  };
  const ConsoleFile f = WriteFromFigures(nullptr, climate);
  const report::ReadResult r = Read(f.Bytes());
  ASSERT_EQ(r.status, ReadStatus::kRead);
  EXPECT_TRUE(r.run.problems.empty()) << r.run.problems[0].line << ": " << r.run.problems[0].text;
  ASSERT_EQ(r.run.climate.size(), climate.size());
  for (size_t i = 0; i < climate.size(); ++i) {
    const report::ClimateReading& c = r.run.climate[i];
    EXPECT_EQ(c.line, 21 + static_cast<int>(i));
    EXPECT_EQ(c.temperature, Printed(climate[i][0])) << i;
    EXPECT_EQ(c.humidity, Printed(climate[i][1])) << i;
    EXPECT_EQ(c.co2, Printed(climate[i][2])) << i;
    EXPECT_EQ(c.opt, Printed(climate[i][3])) << i;
  }
}

TEST(ReaderConsoleFile, ALargeFileWithThousandsOfClimateLinesAndEveryBin) {
  std::vector<std::array<double, 4>> climate;
  for (int i = 0; i < 5000; ++i) climate.push_back({20 + i % 170 / 10.0, 40 + i % 600 / 10.0, i % 100 / 10.0, 21});
  const ConsoleFile f = WriteFromFigures(
      [] {
        for (int b = 0; b <= 600; ++b) TimeHistogram[b][kReadyAll] = TimeHistogram[b][kReadyUnload] = 1;
        HandlingStats[kGroupAll].ReadyMax = 40000;  // a handler-only load beyond 300 s
        HandlingStats[kGroupAll].PlateMin = 0;
        AccessNumber = 601;
      },
      climate);
  const report::ReadResult r = Read(f.Bytes("\r\n"));
  ASSERT_EQ(r.status, ReadStatus::kRead);
  EXPECT_TRUE(r.run.complete) << r.run.incompleteReason;
  EXPECT_TRUE(r.run.problems.empty());
  EXPECT_EQ(r.run.climate.size(), 5000u);
  EXPECT_EQ(r.run.climate[4999].temperature, Printed(20 + 4999 % 170 / 10.0));
  EXPECT_EQ(r.run.histogram.size(), 601u);
  EXPECT_EQ(r.run.UncountedAccesses(), 0);
}

TEST(ReaderConsoleFile, OperatorNamesInTheCodePageWithBlanksAndOfAnyLength) {
  struct Case {
    std::string typed, read;
    bool timed;
  };
  const Case cases[] = {
      {"J\x81rg  M\x81ller ", "J\x81rg  M\x81ller", true},   // blanks inside kept, trailing cut
      {std::string(47, 'a'), std::string(47, 'a'), true},    // the padding down to one blank
      {std::string(60, 'b'), std::string(60, 'b'), true},    // no padding at all
      {std::string(247, 'c'), std::string(247, 'c'), true},  // the longest that keeps its time
      // The console cuts a header line at 255 bytes: a longer name loses
      // the time, and where the name ends is no longer known.
      {std::string(250, 'd'), std::string(247, 'd'), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed.size());
    const ConsoleFile f = WriteFromFigures([&] { OperatorName = ShortStr(std::string_view(c.typed)); });
    const report::ReadResult r = Read(f.Bytes());
    ASSERT_EQ(r.status, ReadStatus::kRead) << r.error.line << ": " << r.error.text;
    EXPECT_TRUE(r.run.complete) << r.run.incompleteReason;
    EXPECT_EQ(r.run.OperatorName(), c.read);
    EXPECT_EQ(r.run.Start().valid, c.timed);
    EXPECT_EQ(r.run.End().valid, c.timed);
    // Each of the four headers says so when the time is lost.
    EXPECT_EQ(r.run.problems.size(), c.timed ? 0u : 4u);
    if (!c.timed) {
      EXPECT_EQ(r.run.problems[0].line, 3);
    }
  }
  const ConsoleFile f = WriteFromFigures([] { OperatorName = "J\x81rg  M\x81ller"; });
  EXPECT_EQ(report::Cp437ToUtf8(Read(f.Bytes()).run.OperatorName()), "J\u00FCrg  M\u00FCller");
}

TEST(ReaderConsoleFile, TheStampsFollowTheCalendar) {
  // A run that starts on the last second of a leap year's February and
  // whose summary comes after midnight.
  const ConsoleFile f = WriteFromFigures([] {
    vt::SetDate(2028, 2, 29);
    vt::SetTimeOfDay(23, 59, 59, 0);
    SerialNumber = -7;
    FirmwareVersion = 65535;
  });
  const report::ReadResult r = Read(f.Bytes());
  ASSERT_EQ(r.status, ReadStatus::kRead) << r.error.line << ": " << r.error.text;
  EXPECT_EQ(r.run.Start().Date(), "2028-02-29");
  EXPECT_EQ(r.run.Start().Time(), "23:59:59");
  EXPECT_EQ(r.run.Serial(), -7);
  EXPECT_EQ(r.run.Firmware(), "65.5.35");
  using namespace std::chrono;
  const auto since2000 = sys_days{year{2028} / 2 / 29} - sys_days{year{2000} / 1 / 1};
  EXPECT_EQ(r.run.Start().Seconds(), duration_cast<seconds>(since2000).count() + 86399);
  EXPECT_GE(r.run.End().Seconds(), r.run.Start().Seconds());
}
