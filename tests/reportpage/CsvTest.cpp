// The CSV table: its header, RFC 4180 quoting and line ends, numbers with a
// point whatever the locale, empty cells where the file holds no time.
#include <gtest/gtest.h>

#include <clocale>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "PageTestSupport.h"
#include "report/Page.h"

using namespace report;
using namespace pagetest;

namespace {

// The table's rows and cells, read back as RFC 4180 says (quoted fields may
// hold commas, quotes doubled, CR and LF); rows end in CR LF.
std::vector<std::vector<std::string>> Parse(const std::string& csv, bool& wellFormed) {
  std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
  wellFormed = true;
  size_t i = 0;
  bool quoted = false, fieldStart = true;
  while (i < csv.size()) {
    const char c = csv[i];
    if (quoted) {
      if (c == '"' && i + 1 < csv.size() && csv[i + 1] == '"') {
        rows.back().back() += '"';
        i += 2;
      } else if (c == '"') {
        quoted = false;
        ++i;
      } else {
        rows.back().back() += c;
        ++i;
      }
      continue;
    }
    if (c == '"' && fieldStart) {
      quoted = true, fieldStart = false, ++i;
    } else if (c == ',') {
      rows.back().emplace_back();
      fieldStart = true, ++i;
    } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
      rows.emplace_back(1);
      fieldStart = true, i += 2;
    } else if (c == '\r' || c == '\n' || c == '"') {
      wellFormed = false;  // bare line end or a quote inside an unquoted field
      ++i;
    } else {
      rows.back().back() += c;
      fieldStart = false, ++i;
    }
  }
  if (quoted) wellFormed = false;
  // The table ends with a line end: the last "row" is the empty rest.
  if (rows.back().size() == 1 && rows.back()[0].empty())
    rows.pop_back();
  else
    wellFormed = false;
  return rows;
}

const std::string kBom = "\xEF\xBB\xBF";

size_t Column(const std::vector<std::string>& header, const std::string& name) {
  for (size_t i = 0; i < header.size(); ++i)
    if (header[i] == name) return i;
  ADD_FAILURE() << "no column " << name;
  return 0;
}

// A decimal point that is a comma, for the process: the C++ global locale
// always, the C locale when the system has German.
struct CommaLocale : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

}  // namespace

TEST(ReportPageCsv, HeaderQuotingAndLineEndsFollowRfc4180) {
  report::Run a = CompleteRun("a,\"b\".spf", At(2026, 1, 5, 17, 0, 2));
  for (Header& h : a.headers) h.operatorName = "M\x81ller, Hans";  // code page 437: ü
  report::Run b = CompleteRun("=cmd|' /C calc'!A0.spf", Stamp{});
  b.complete = false;
  b.incompleteReason = "the file ends in the climate data, line 50";
  const std::string csv = WriteCsv({a, b});
  ASSERT_EQ(csv.rfind(kBom, 0), 0u);
  bool wellFormed = false;
  const auto rows = Parse(csv.substr(kBom.size()), wellFormed);
  EXPECT_TRUE(wellFormed);
  ASSERT_EQ(rows.size(), 3u);
  const std::vector<std::string> first = {"file",           "serial",        "date",         "time",
                                          "firmware",       "operator",      "complete",     "total_accesses",
                                          "car_pos_errors", "access_mean_s", "access_min_s", "access_max_s",
                                          "load_mean_s",    "unload_mean_s", "climate_lines"};
  ASSERT_GE(rows[0].size(), first.size());
  EXPECT_EQ(std::vector<std::string>(rows[0].begin(), rows[0].begin() + first.size()), first);
  for (const auto& r : rows) EXPECT_EQ(r.size(), rows[0].size());

  EXPECT_EQ(rows[1][0], "a,\"b\".spf");
  EXPECT_NE(csv.find(",\"M\xC3\xBCller, Hans\","), std::string::npos);
  EXPECT_NE(csv.find("\r\n\"a,\"\"b\"\".spf\",1234,2026-01-05,17:00:02,7.1.20,"), std::string::npos);
  EXPECT_EQ(rows[1][Column(rows[0], "complete")], "yes");
  EXPECT_EQ(rows[1][Column(rows[0], "total_accesses")], "111");
  EXPECT_EQ(rows[1][Column(rows[0], "climate_lines")], "30");
  EXPECT_EQ(rows[1][Column(rows[0], "duration_s")], "1800");
  EXPECT_EQ(rows[1][Column(rows[0], "end_time")], "17:30:02");
  // A name a spreadsheet would run as a formula stays a text.
  EXPECT_EQ(rows[2][0], "'=cmd|' /C calc'!A0.spf");
  EXPECT_EQ(rows[2][Column(rows[0], "date")], "");
  EXPECT_EQ(rows[2][Column(rows[0], "complete")], "no");
  EXPECT_EQ(rows[2][Column(rows[0], "incomplete_reason")], "the file ends in the climate data, line 50");

  EXPECT_EQ(page::CsvField("plain"), "plain");
  EXPECT_EQ(page::CsvField("a\rb"), "\"a\rb\"");
  EXPECT_EQ(page::CsvField("a\nb"), "\"a\nb\"");
  EXPECT_EQ(page::CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(page::CsvField(""), "");
}

TEST(ReportPageCsv, NumbersKeepTheirPointUnderAGermanLocale) {
  report::Run r = CompleteRun("x.spf", At(2026, 1, 5, 17, 0, 2));
  r.summary.totalAccesses = 12345;
  r.summary.mean[kAll].ready = 5.9;
  r.climate[0].temperature = -20.5;
  const std::string before = WriteCsv({r});

  const std::locale saved = std::locale::global(std::locale(std::locale::classic(), new CommaLocale));
  const std::string savedC = std::setlocale(LC_ALL, nullptr);
  const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
  const std::string csv = WriteCsv({r});
  const std::string page = WritePage({r}, "g");
  std::ostringstream probe;
  probe << 5.9;
  std::setlocale(LC_ALL, savedC.c_str());
  std::locale::global(saved);
  EXPECT_EQ(probe.str(), "5,9") << "the locale did not take: this test proves nothing";
  if (!german) std::printf("(no de_DE.UTF-8 here: the C locale was left as it was)\n");

  EXPECT_EQ(csv, before);
  EXPECT_NE(csv.find(",12345,0,5.9,4.2,7.3,5.9,5.9,30,"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",-20.5,37.2,"), std::string::npos);
  EXPECT_NE(page.find(">5.9<"), std::string::npos);
  EXPECT_EQ(page.find(">5,9<"), std::string::npos);

  EXPECT_EQ(page::Fixed(21474836.5, 1), "21474836.5");
  EXPECT_EQ(page::Fixed(1e20, 1), "100000000000000000000.0");
  EXPECT_EQ(page::Fixed(-0.04, 1), "0.0");
  EXPECT_EQ(page::Fixed(0.05, 2), "0.05");
  EXPECT_EQ(page::Fixed(1.0 / 0.0, 1), "");
  EXPECT_EQ(page::Integer(-9223372036854775807LL - 1), "-9223372036854775808");
}

TEST(ReportPageCsv, FiguresThatAreNotTimesLeaveTheirCellsEmpty) {
  report::Run noLoads = CompleteRun("noloads.spf", At(2026, 1, 5, 17, 0, 2));
  Unmeasured(noLoads.summary, kLoad, 17.5);
  report::Run noSummary = CompleteRun("nosummary.spf", At(2026, 1, 12, 17, 0, 2));
  noSummary.summary = Summary{};
  noSummary.headers.resize(2);
  noSummary.complete = false;
  const std::string csv = WriteCsv({noLoads, noSummary});
  EXPECT_EQ(csv.find("21474836"), std::string::npos);
  EXPECT_EQ(csv.find("17.5"), std::string::npos);
  bool wellFormed = false;
  const auto rows = Parse(csv.substr(kBom.size()), wellFormed);
  ASSERT_EQ(rows.size(), 3u);
  const auto& h = rows[0];
  for (const char* c : {"load_mean_s", "load_min_s", "load_max_s", "load_pr_mean_s", "load_pr_min_s", "load_pr_max_s"})
    EXPECT_EQ(rows[1][Column(h, c)], "") << c;
  EXPECT_EQ(rows[1][Column(h, "access_mean_s")], "5.9");
  EXPECT_EQ(rows[1][Column(h, "unload_mean_s")], "5.9");
  for (const char* c : {"total_accesses", "car_pos_errors", "access_mean_s", "access_min_s", "access_max_s",
                        "load_mean_s", "unload_mean_s", "interval_s", "end_date", "end_time", "duration_s"})
    EXPECT_EQ(rows[2][Column(h, c)], "") << c;
  EXPECT_EQ(rows[2][Column(h, "climate_lines")], "30");
  EXPECT_EQ(rows[2][Column(h, "date")], "2026-01-12");
}
