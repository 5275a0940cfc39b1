// The page and the table from result files the console itself wrote (the
// whole program in-process against the simulated store), read back by the
// reader: what the page and the table show is what the file's summary says.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PageTestSupport.h"
#include "bench/ResultFiles.h"
#include "report/Page.h"

using namespace report;
using namespace pagetest;

namespace {

// The value after a summary label as the file prints it (the Ready figure
// of a time line).
std::string After(const std::vector<std::string>& lines, const std::string& label) {
  for (const std::string& l : lines)
    if (l.rfind(label, 0) == 0) {
      std::string v =
          l.substr(label.size(), l.find("PR") == std::string::npos ? std::string::npos : l.find("PR") - label.size());
      v.erase(0, v.find_first_not_of(' '));
      v.erase(v.find_last_not_of(' ') + 1);
      return v;
    }
  return "";
}

}  // namespace

TEST(ReportPageFromConsole, AnHoursRunAndTheSameRunKilledHalfWay) {
  ResultRunPlan plan;
  plan.hours = 1;
  const std::vector<std::string> lines = MakeResultFileLines(plan);
  ASSERT_GT(lines.size(), 80u);
  ReadResult whole = ReadResultFile(JoinLines(lines), "1234_00.spf");
  ASSERT_EQ(whole.status, ReadStatus::kRead) << whole.error.text;
  ASSERT_TRUE(whole.run.complete) << whole.run.incompleteReason;
  ASSERT_TRUE(whole.run.problems.empty()) << whole.run.problems[0].text;

  const std::vector<std::string> cutLines(lines.begin(), lines.begin() + 50);
  ReadResult cut = ReadResultFile(JoinLines(cutLines), "1234_01.spf");
  ASSERT_EQ(cut.status, ReadStatus::kRead) << cut.error.text;
  EXPECT_FALSE(cut.run.complete);

  const std::string page = WritePage({whole.run, cut.run}, "test");
  const std::vector<std::string> svgs = Svgs(page);
  ASSERT_EQ(svgs.size(), 1u + 2 + 1);  // trend, the whole run's two, the cut run's climate
  EXPECT_NE(svgs[3].find("Climate"), std::string::npos);
  const size_t wholeSection = page.find("<section id=\"run-1\">");
  const size_t cutSection = page.find("<section id=\"run-2\">");
  EXPECT_NE(page.find("<div class=\"verdict ok\">", wholeSection), std::string::npos);
  EXPECT_LT(page.find("<div class=\"verdict bad\">", cutSection), page.find("</section>", cutSection));
  const std::string mean = After(lines, "Mean Access Time:"), max = After(lines, "Max. Access Time:");
  EXPECT_NE(page.find(mean + " / " + max + " s", wholeSection), std::string::npos);

  const std::string csv = WriteCsv({whole.run, cut.run});
  const std::string row =
      csv.substr(csv.find("\r\n") + 2, csv.find("\r\n", csv.find("\r\n") + 2) - csv.find("\r\n") - 2);
  const std::string total = After(lines, "Total Accesses:");
  EXPECT_EQ(row.rfind("1234_00.spf,1234,2026-12-08,10:00:02,7.1.20,Default User,yes," + total + ",0," + mean + "," +
                          After(lines, "Min. Access Time:") + "," + max + "," + After(lines, "Mean Load Time:") + "," +
                          After(lines, "Mean UnLoad Time:") + "," + std::to_string(whole.run.climate.size()) + ",",
                      0),
            0u)
      << row;
  EXPECT_NE(csv.find("\r\n1234_01.spf,1234,2026-12-08,10:00:02,7.1.20,Default User,no,,,,,,,,"), std::string::npos)
      << csv;
}
