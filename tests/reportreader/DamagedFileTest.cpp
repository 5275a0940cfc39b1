// Result files that are not as the console wrote them: a damaged line in
// each section, lines missing or added, a line cut short, line ends of both
// kinds, and files that are no result file at all. A damaged line is named
// by its number and left out; no other figure may change.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ReaderSupport.h"

using report::ReadStatus;

namespace {

// The 0-based index of the first line equal to (or starting with) text.
size_t IndexOf(const std::vector<std::string>& lines, const std::string& text, bool prefix = false) {
  for (size_t i = 0; i < lines.size(); ++i)
    if (prefix ? lines[i].rfind(text, 0) == 0 : lines[i] == text) return i;
  ADD_FAILURE() << "no line " << text;
  return 0;
}

struct Damaged {
  report::ReadResult full, damaged;
};

// The short run's file with line `index` (0-based) replaced.
Damaged Replace(size_t index, const std::string& text) {
  std::vector<std::string> lines = ShortStoreRun().lines;
  Damaged d{Read(Join(lines)), {}};
  lines.at(index) = text;
  d.damaged = Read(Join(lines));
  return d;
}

// One problem, at the line, and every figure left is the whole file's.
void ExpectOneProblemAt(const Damaged& d, size_t index) {
  ASSERT_EQ(d.damaged.status, ReadStatus::kRead);
  ASSERT_EQ(d.damaged.run.problems.size(), 1u);
  EXPECT_EQ(d.damaged.run.problems[0].line, static_cast<int>(index) + 1) << d.damaged.run.problems[0].text;
  EXPECT_EQ(Disagreement(d.damaged.run, d.full.run), "");
}

}  // namespace

TEST(ReaderDamagedFile, AClimateLineThatDoesNotReadIsLeftOut) {
  const size_t first = IndexOf(ShortStoreRun().lines, "Temp  Hmd   CO2   Opt") + 1;
  const std::string good = ShortStoreRun().lines[first + 3];
  const std::string damaged[] = {
      good.substr(1),                            // a blank lost: the first field is short
      good.substr(0, 15),                        // a field lost
      good + " 21.0",                            // a field too many
      " 28.1 63.7  2.0 21.5",                    // Opt is a whole number
      " 28.1 63.7  2.05 21.0",                   // two decimals
      " 28.1-63.7  2.0 21.0",                    // only the temperature has a sign
      " 28.1 63.7 02.0 21.0",                    // a leading zero the console never prints
      "5000.0 63.7  2.0 21.0",                   // above the word's 3276.8
      " 28.1 63.7  2.0 21.",                     // cut in the last field
      " 28.1 63.7  2.0 21.0 ",                   // a blank after it
      " 28.1 63.7  2,0 21.0",                    // a comma
      std::string(20, ' '),                      // blanks only
      "Time      Ready             PlateReady",  // a line of another section
  };
  for (const std::string& text : damaged) {
    SCOPED_TRACE(text);
    const Damaged d = Replace(first + 3, text);
    ExpectOneProblemAt(d, first + 3);
    EXPECT_EQ(d.damaged.run.climate.size(), d.full.run.climate.size() - 1);
    EXPECT_TRUE(d.damaged.run.complete);  // the run itself is all there
  }
}

TEST(ReaderDamagedFile, AHistogramRowThatDoesNotReadIsLeftOut) {
  const std::vector<std::string>& lines = ShortStoreRun().lines;
  const size_t first = IndexOf(lines, "[s]   Mean Min. Max.      Mean Min. Max.") + 1;
  // A row with counts in both halves: "  5.0   70   63    7        25    0   25".
  // The first row (nothing before it to check its time against) and rows
  // further down with counts in both halves.
  std::vector<size_t> rows = {first};
  for (size_t i = first + 1; i < lines.size() && lines[i].size() == 40; ++i)
    if (lines[i].substr(5, 5) != "    0" && lines[i].substr(25, 5) != "    0") rows.push_back(i);
  ASSERT_GE(rows.size(), 2u);
  for (size_t i : rows) {
    const std::string good = lines[i];
    std::string digit = good, shifted = " " + good.substr(0, 39), time = good;
    digit[9] = digit[9] == '9' ? '8' : static_cast<char>(digit[9] + 1);  // "all" no longer load + unload
    time[3] = time[3] == '5' ? '0' : '5';                                // half a second off
    time[2] = time[2] == '9' ? '8' : static_cast<char>(time[2] + 1);     // and a second
    const std::string damaged[] = {digit, shifted, time, good.substr(0, 39), good + " ", std::string(40, ' ')};
    for (const std::string& text : damaged) {
      SCOPED_TRACE(text);
      const Damaged d = Replace(i, text);
      ExpectOneProblemAt(d, i);
      EXPECT_EQ(d.damaged.run.histogram.size(), d.full.run.histogram.size() - 1);
      EXPECT_TRUE(d.damaged.run.complete);
    }
  }
  const size_t i = rows[1];
  // A row left out leaves its place: the rows after it still follow.
  const Damaged d = Replace(i, "junk");
  ASSERT_GT(d.damaged.run.histogram.size(), 2u);
  EXPECT_EQ(d.damaged.run.histogram.back().bin, d.full.run.histogram.back().bin);
}

TEST(ReaderDamagedFile, ASummaryLineThatDoesNotReadLeavesTheSummaryIncomplete) {
  const std::vector<std::string>& lines = ShortStoreRun().lines;
  struct Case {
    std::string label, text;
  };
  const Case cases[] = {
      {"Total Accesses:", "Total Accesses:          1x1"},
      {"Total Accesses:", "Total Accesses:        -   1"},
      {"Min. Load Time:", "Min. Load Time:          5.10  PR  1.9"},
      {"Max. UnLoad Time:", "Max. UnLoad Time:        7.3  PR 1.9"},
      {"Max. UnLoad Time:", "Max. UnLoad Time:        7.3 PR  1.9"},
      {"Access: ", "Access:                            Including Gate Cycl"},
      {"Mean UnLoad Time:", "Mean Unload Time:        6.2  PR  4.8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const size_t i = IndexOf(lines, c.label, true);
    const Damaged d = Replace(i, c.text);
    ExpectOneProblemAt(d, i);
    EXPECT_FALSE(d.damaged.run.summary.complete);
    EXPECT_FALSE(d.damaged.run.complete);
    EXPECT_EQ(d.damaged.run.incompleteReason, "lines of the test summary do not read: their figures are missing");
  }
  const Damaged total = Replace(IndexOf(lines, "Total Accesses:", true), "Total Accesses:          1x1");
  EXPECT_EQ(total.damaged.run.summary.totalAccesses, -1);
  EXPECT_EQ(total.damaged.run.UncountedAccesses(), 0);  // no total: nothing to tell
  const Damaged load = Replace(IndexOf(lines, "Min. Load Time:", true), "Min. Load Time:          5.10  PR  1.9");
  EXPECT_FALSE(load.damaged.run.summary.minimum[report::kLoad].present);
  EXPECT_FALSE(load.damaged.run.summary.ReadyMeasured(report::kLoad));
  EXPECT_TRUE(load.damaged.run.summary.maximum[report::kLoad].present);
}

TEST(ReaderDamagedFile, LinesMissingOrAddedAreNamedAndTheRestIsRead) {
  const std::vector<std::string>& lines = ShortStoreRun().lines;
  const report::ReadResult full = Read(Join(lines));

  // The empty line before the statistics' header lost.
  std::vector<std::string> v = lines;
  const size_t statistics = IndexOf(v, "[s]   Mean Min. Max.      Mean Min. Max.") - 11;
  ASSERT_EQ(v[statistics], "");
  v.erase(v.begin() + static_cast<long>(statistics));
  report::ReadResult r = Read(Join(v));
  ASSERT_EQ(r.run.problems.size(), 1u);
  EXPECT_EQ(r.run.problems[0].line, static_cast<int>(statistics) + 1);
  EXPECT_TRUE(r.run.complete);
  EXPECT_EQ(r.run.summary.totalAccesses, full.run.summary.totalAccesses);
  EXPECT_EQ(r.run.histogram.size(), full.run.histogram.size());

  // A summary line lost: the next line says so, the others are read.
  v = lines;
  const size_t maxLoad = IndexOf(v, "Max. Load Time:", true);
  v.erase(v.begin() + static_cast<long>(maxLoad));
  r = Read(Join(v));
  ASSERT_EQ(r.run.problems.size(), 1u);
  EXPECT_EQ(r.run.problems[0].line, static_cast<int>(maxLoad) + 1);
  EXPECT_FALSE(r.run.summary.maximum[report::kLoad].present);
  EXPECT_EQ(r.run.summary.mean[report::kLoad].ready, full.run.summary.mean[report::kLoad].ready);
  EXPECT_EQ(r.run.summary.mean[report::kUnload].ready, full.run.summary.mean[report::kUnload].ready);
  EXPECT_FALSE(r.run.complete);

  // A line of something else among the climate lines, and a climate
  // header that shows up again: named, nothing else changes.
  v = lines;
  const size_t climate = IndexOf(v, "Temp  Hmd   CO2   Opt") + 5;
  v.insert(v.begin() + static_cast<long>(climate), "Temp  Hmd   CO2   Opt");
  v.insert(v.begin() + static_cast<long>(climate), "a note typed into the file");
  r = Read(Join(v));
  ASSERT_EQ(r.run.problems.size(), 2u);
  EXPECT_EQ(r.run.problems[0].line, static_cast<int>(climate) + 1);
  EXPECT_EQ(r.run.climate.size(), full.run.climate.size());
  EXPECT_TRUE(r.run.complete);

  // The whole file twice: the second copy is not the console's.
  v = lines;
  v.insert(v.end(), lines.begin(), lines.end());
  r = Read(Join(v));
  ASSERT_EQ(r.run.problems.size(), 1u);
  EXPECT_EQ(r.run.problems[0].line, static_cast<int>(lines.size()) + 1);
  EXPECT_TRUE(r.run.complete);
  EXPECT_EQ(r.run.climate.size(), full.run.climate.size());
}

TEST(ReaderDamagedFile, ALastLineWithoutItsEndIsNeverRead) {
  const std::vector<std::string>& lines = ShortStoreRun().lines;
  // "Total Accesses:          171" cut after "17", "Access Interval [Sec]:
  // 123456" after "12345": either would read as a number.
  const size_t total = IndexOf(lines, "Total Accesses:", true);
  std::string bytes = Join(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(total)));
  report::ReadResult r = Read(bytes + lines[total].substr(0, lines[total].size() - 1));
  EXPECT_EQ(r.run.summary.totalAccesses, -1);
  ASSERT_EQ(r.run.problems.size(), 1u);
  EXPECT_EQ(r.run.problems[0].line, static_cast<int>(total) + 1);
  EXPECT_EQ(r.run.incompleteReason,
            "the file ends in the middle of line " + std::to_string(total + 1) + ", in the test summary");
  r = Read(bytes + lines[total] + "\nAccess Interval [Sec]: 12345");
  EXPECT_EQ(r.run.summary.totalAccesses, Read(Join(lines)).run.summary.totalAccesses);
  EXPECT_FALSE(r.run.summary.hasIntervalSeconds);

  // Cut between the last line's CR and LF: still cut.
  const std::string crlf = Join(lines, "\r\n");
  r = Read(std::string_view(crlf).substr(0, crlf.size() - 1));
  EXPECT_FALSE(r.run.complete);
  EXPECT_FALSE(r.run.summary.mean[report::kUnload].present);

  // Where the file ends, in a technician's words.
  const size_t climate = IndexOf(lines, "Temp  Hmd   CO2   Opt") + 10;
  r = Read(Join(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(climate))));
  EXPECT_EQ(r.run.incompleteReason, "the file ends after line " + std::to_string(climate) + ", in the climate data");
  EXPECT_FALSE(r.run.End().valid);
  r = Read(Join(std::vector<std::string>(lines.begin(), lines.begin() + 13)));
  EXPECT_EQ(r.run.incompleteReason, "the file ends after line 13, in the header of the climate data");
  // After the whole summary a line without its end is not the console's.
  r = Read(Join(lines) + "x");
  EXPECT_TRUE(r.run.complete);
  EXPECT_EQ(r.run.problems.size(), 1u);
}

TEST(ReaderDamagedFile, LineEndsOfBothKindsAreNamedOnce) {
  const std::vector<std::string>& lines = ShortStoreRun().lines;
  std::string bytes;
  for (size_t i = 0; i < lines.size(); ++i) bytes += lines[i] + (i % 2 ? "\r\n" : "\n");
  const report::ReadResult r = Read(bytes);
  ASSERT_EQ(r.status, ReadStatus::kRead);
  EXPECT_TRUE(r.run.complete);
  ASSERT_EQ(r.run.problems.size(), 1u);
  EXPECT_EQ(r.run.problems[0].line, 2);
  EXPECT_EQ(Disagreement(r.run, Read(Join(lines)).run), "");
}

TEST(ReaderDamagedFile, ADateTheClockGotWrongLeavesTheRunWithoutItsDate) {
  // A clock before 2000 gives a year of three characters; one gives a day
  // that is no day. The file is the console's all the same.
  for (const std::string date : {"08-12-020", "31-02-26", "00-12-26"}) {
    SCOPED_TRACE(date);
    std::vector<std::string> lines = ShortStoreRun().lines;
    lines[1] = "Quendal AG" + std::string(45 - date.size(), ' ') + date;
    const report::ReadResult r = Read(Join(lines));
    ASSERT_EQ(r.status, ReadStatus::kRead) << r.error.text;
    EXPECT_FALSE(r.run.Start().valid);
    EXPECT_TRUE(r.run.End().valid);
    ASSERT_EQ(r.run.problems.size(), 1u);
    EXPECT_EQ(r.run.problems[0].line, 2);
    EXPECT_TRUE(r.run.complete);
  }
}

TEST(ReaderNotAResultFile, IsToldWithTheLineWhereItStopsBeingOne) {
  const std::vector<std::string>& lines = ShortStoreRun().lines;
  const std::string whole = Join(lines);
  std::string binary;
  for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>(i * 37 % 256));
  struct Case {
    std::string what, bytes;
    int line;
  };
  auto withLine = [&](size_t index, const std::string& text) {
    std::vector<std::string> v = lines;
    v.at(index) = text;
    return Join(v);
  };
  const Case cases[] = {
      {"empty", "", 0},
      {"binary", binary, 1},
      {"another text", "Date;Temp;Hmd\n08-12-26;28.1;63.7\n", 1},
      {"one huge line", std::string(50 << 20, '_'), 1},
      {"a rule of 54", whole.substr(1), 1},
      {"a rule and no more", std::string(55, '_') + "\n", 2},
      {"the first header cut", whole.substr(0, 200), 5},  // in the middle of line 5
      {"no date", withLine(1, "Quendal AG                                 8 Dec 2026"), 2},
      {"no such hour", withLine(2, "Default User                                   24:00:02"), 3},
      {"another title", withLine(5, "                Complete Test Summary"), 6},
      {"title off centre", withLine(5, "                   System Data Summary"), 6},
      {"serial not a number", withLine(7, "SNr. # 12a4                             Firmware 7.1.20"), 8},
      {"firmware beyond 16 bits", withLine(7, "SNr. # 1234                           Firmware 7.1.200"), 8},
      {"another program", withLine(4, "        Vekton System Test * V 3.03v, 10.12.07"), 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const report::ReadResult r = Read(c.bytes);
    EXPECT_EQ(r.status, ReadStatus::kNotResultFile);
    EXPECT_EQ(r.error.line, c.line) << r.error.text;
    EXPECT_FALSE(r.error.text.empty());
    EXPECT_TRUE(r.run.headers.empty());
  }
}

TEST(ReaderCp437, EveryByteBecomesAPrintableCharacter) {
  // Control codes come out as their glyphs; no byte of the output is a C0
  // control or DEL (the bytes of longer UTF-8 sequences are all >= 0x80).
  for (int b = 0; b < 256; ++b) {
    const std::string utf8 = report::Cp437ToUtf8(std::string(1, static_cast<char>(b)));
    ASSERT_FALSE(utf8.empty());
    for (char c : utf8) EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) << b;
    if (b >= 0x20 && b < 0x7F) {
      EXPECT_EQ(utf8, std::string(1, static_cast<char>(b)));
    }
  }
  EXPECT_EQ(report::Cp437ToUtf8("J\x81rg \x9A\xE1"), "J\u00FCrg \u00DC\u00DF");
  EXPECT_EQ(report::Cp437ToUtf8("A\x01\x0D\x7F"), "A\u263A\u266A\u2302");
}
