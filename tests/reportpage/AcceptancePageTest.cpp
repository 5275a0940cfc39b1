// The judged page: the verdict a run's section opens with says what the
// judgement says, one row a criterion asked for, an unjudged one named as
// such; the comparison carries the verdict; the store's texts are shown,
// never obeyed; and a page without limits has nothing of all this.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PageTestSupport.h"
#include "report/Acceptance.h"
#include "report/Page.h"

using namespace report;
using namespace pagetest;

namespace {

const std::string kGenerator = "vekton-report 1.0.0";

Limits Read(const std::string& text) {
  Limits limits;
  Problem error;
  EXPECT_TRUE(ReadLimits(text, "limits.toml", limits, error)) << error.line << ": " << error.text;
  return limits;
}

// Three criteria: the run's mean Ready time of 5.9 s passes, its 30 minutes
// fail an hour, and a temperature band is not judged on a run without
// climate lines.
const char* const kThree =
    "[run]\nmin_hours = 1.0\n[ready]\nmax_mean_s = 6.0\n"
    "[climate.temperature]\nlow = 36.5\nhigh = 37.5\n";

// The rows of the criteria table, one string each.
std::vector<std::string> CriterionRows(const std::string& section) {
  std::vector<std::string> rows;
  const size_t table = section.find("<table class=\"crit\">");
  if (table == std::string::npos) return rows;
  const size_t body = section.find("<tbody>", table), end = section.find("</tbody>", table);
  for (size_t at = section.find("<tr>", body); at < end; at = section.find("<tr>", at + 1))
    rows.push_back(section.substr(at, section.find("</tr>", at) - at));
  return rows;
}

}  // namespace

TEST(AcceptancePage, EachRunOpensWithItsVerdictAndOneRowACriterion) {
  const Limits limits = Read(kThree);
  const std::string page = WritePage({CompleteRun("a.spf", At(2026, 3, 2, 8, 0, 0), 0)}, kGenerator, &limits);
  // run.complete is asked too, unless the file says not: four rows, two passed.
  EXPECT_NE(page.find(">NOT ACCEPTED<"), std::string::npos);
  EXPECT_NE(page.find("2 of 4 criteria passed"), std::string::npos);
  const std::vector<std::string> rows = CriterionRows(page);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_NE(rows[0].find("passed"), std::string::npos);
  EXPECT_NE(rows[1].find("failed"), std::string::npos);  // 0 h of at least 1 h
  EXPECT_NE(rows[1].find("-1.00 h"), std::string::npos);
  EXPECT_NE(rows[2].find("+0.1 s"), std::string::npos);
  EXPECT_NE(rows[3].find("not judged"), std::string::npos);
  EXPECT_NE(rows[3].find("no climate reading in the file"), std::string::npos);
  // The facts come before the verdict, the verdict before the charts, the
  // lines to sign at the end.
  const size_t facts = page.find("<dt>Serial number</dt>"), verdict = page.find("class=\"accept bad\""),
               charts = page.find("<h3>Handling times</h3>"), sign = page.find("Technician");
  EXPECT_LT(facts, verdict);
  EXPECT_LT(verdict, charts);
  EXPECT_LT(charts, sign);
  EXPECT_NE(sign, std::string::npos);

  // Within every limit, with its climate: accepted, all four passed.
  const std::string passed = WritePage({CompleteRun("b.spf", At(2026, 3, 2, 8, 0, 0), 70)}, kGenerator, &limits);
  EXPECT_NE(passed.find(">ACCEPTED<"), std::string::npos);
  EXPECT_EQ(passed.find("NOT ACCEPTED"), std::string::npos);
  EXPECT_NE(passed.find("4 of 4 criteria passed"), std::string::npos);
}

TEST(AcceptancePage, TheComparisonCarriesEachRunsVerdict) {
  const Limits limits = Read("[run]\nmin_hours = 1.0\n");
  // Given later run first: the table is in start order, so the long run
  // (accepted) is its first row.
  const std::string page = WritePage(
      {CompleteRun("short.spf", At(2026, 3, 9, 8, 0, 0), 30), CompleteRun("long.spf", At(2026, 3, 2, 8, 0, 0), 90)},
      kGenerator, &limits);
  const size_t table = page.find("<table class=\"cmp\">"), end = page.find("</table>", table);
  ASSERT_NE(table, std::string::npos);
  const std::string cmp = page.substr(table, end - table);
  EXPECT_NE(cmp.find("<th>Acceptance</th>"), std::string::npos);
  const size_t accepted = cmp.find(">accepted<"), refused = cmp.find(">NOT accepted<");
  ASSERT_NE(accepted, std::string::npos);
  ASSERT_NE(refused, std::string::npos);
  EXPECT_LT(accepted, refused);
  EXPECT_LT(cmp.find("long.spf"), cmp.find("short.spf"));
  // Each run's section says the same as its row.
  EXPECT_LT(page.find(">NOT ACCEPTED<"), page.find("<section id=\"run-2\">"));
  EXPECT_GT(page.find(">ACCEPTED<"), page.find("<section id=\"run-2\">"));
}

TEST(AcceptancePage, TheStoresTextsAreShownNeverObeyed) {
  const Limits limits = Read(
      "[store]\ncustomer = \"<script>alert(1)</script>\"\nsite = \"Lab & 'B'\"\n"
      "model = \"480 \\\"L\\\"\"\norder = \"\\\"</dd><img src=x>\"\n");
  const std::string page = WritePage({CompleteRun("a.spf", At(2026, 3, 2, 8, 0, 0))}, kGenerator, &limits);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_NE(page.find("480 &quot;L&quot;"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
  EXPECT_NE(page.find("Lab &amp; &#39;B&#39;"), std::string::npos);
  EXPECT_NE(page.find("<dd>limits.toml</dd>"), std::string::npos);
}

TEST(AcceptancePage, APageWithoutLimitsHasNothingOfTheProtocol) {
  const std::vector<report::Run> runs = {CompleteRun("a.spf", At(2026, 3, 2, 8, 0, 0)),
                                         CompleteRun("b.spf", At(2026, 3, 9, 8, 0, 0))};
  const std::string page = WritePage(runs, kGenerator);
  for (const char* part : {"@page", "ACCEPTED", "Acceptance", "criteria", "Technician", "print-only", "Customer"})
    EXPECT_EQ(page.find(part), std::string::npos) << part;
  // Limits that ask for nothing still make a protocol: the page tells.
  Limits none = Read("[run]\ncomplete = false\n");
  EXPECT_NE(WritePage(runs, kGenerator, &none).find("asks for no criterion"), std::string::npos);
}
