// The archive's page from runs the console itself wrote: every store has its
// row, its section and its chart, the drifting store leads, a history of
// weeks stands on a time axis with its events, nothing from an event or a
// file is obeyed, and a large fleet stays a page a browser opens.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/FleetPage.h"
#include "bench/ResultFiles.h"
#include "report/ResultFile.h"

using namespace archive;

namespace {

size_t Count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size())) ++n;
  return n;
}

// One short run made by the console, read back as the archive keeps it.
const StoredRun& Made() {
  static const StoredRun run = [] {
    ResultRunPlan plan;
    plan.hours = 0.1;
    const report::ReadResult read = report::ReadResultFile(JoinLines(MakeResultFileLines(plan)), "1234_00.spf");
    EXPECT_EQ(read.status, report::ReadStatus::kRead);
    return StoredRunOf(read.run);
  }();
  return run;
}

report::Stamp Day(int year, int month, int day) {
  report::Stamp s;
  s.valid = true;
  s.year = year, s.month = month, s.day = day, s.hour = 17;
  return s;
}

report::Stamp WeeksOn(report::Stamp s, int weeks) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};  // 2026 and 2027
  s.day += 7 * weeks;
  while (s.day > kDays[s.month - 1]) {
    s.day -= kDays[s.month - 1];
    if (++s.month > 12) s.month = 1, ++s.year;
  }
  return s;
}

// A store's runs a week apart from 5 Jan 2026, each a little slower.
StoreHistory Store(int64_t serial, int runs, Drift::State drift) {
  StoreHistory h;
  h.serial = serial;
  for (int i = 0; i < runs; ++i) {
    StoredRun r = Made();
    r.id = serial * 100 + i;
    r.figures.serial = serial;
    r.figures.start = WeeksOn(Day(2026, 1, 5), i);
    r.figures.mean = 5.0 + 0.05 * i;
    r.figures.max = 7.0 + 0.05 * i;
    h.runs.push_back(r);
  }
  h.drift.state = drift;
  h.drift.newestId = h.runs.back().id;
  h.drift.baselineIds = {h.runs.front().id};
  return h;
}

Event Serviced(int64_t serial, report::Stamp when, const std::string& text) {
  Event e;
  e.serial = serial;
  e.when = when;
  e.text = text;
  return e;
}

}  // namespace

TEST(FleetPage, EveryStoreHasItsRowSectionAndChartAndTheDriftingOneLeads) {
  std::vector<StoreHistory> stores = {Store(1000, 4, Drift::kSteady), Store(2000, 1, Drift::kNoBaseline),
                                      Store(3000, 5, Drift::kDrifting)};
  stores[2].events.push_back(Serviced(3000, Day(2026, 1, 14), "gripper replaced"));
  stores[2].events.push_back(Serviced(3000, Day(2026, 1, 28), "re-taught"));
  const std::string page = WriteFleetPage(stores, "vekton-archive 1.0.0", "");

  EXPECT_NE(page.find("<h1>Store archive: 3 stores, 10 runs</h1>"), std::string::npos);
  // The fleet's rows: the drifting store first, then by serial.
  const size_t a = page.find("href=\"#store-3000\""), b = page.find("href=\"#store-1000\""),
               c = page.find("href=\"#store-2000\"");
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_NE(page.find("<td class=\"drift bad\">DRIFT"), std::string::npos);
  EXPECT_LT(page.find("<td class=\"drift bad\">DRIFT"), b);
  for (const char* serial : {"1000", "2000", "3000"})
    EXPECT_EQ(Count(page, std::string("<section id=\"store-") + serial + "\">"), 1u) << serial;
  EXPECT_EQ(Count(page, "aria-label=\"Mean and maximum access time per run\""), 3u);
  EXPECT_EQ(Count(page, "<svg class=\"spark\""), 3u);
  // Weeks apart: to scale, with the event's marker, title and number.
  EXPECT_EQ(Count(page, "Date the run started, to scale"), 2u);
  EXPECT_NE(page.find("<title>2026-01-14: gripper replaced</title>"), std::string::npos);
  EXPECT_NE(page.find("<title>2026-01-28: re-taught</title>"), std::string::npos);
  const size_t section = page.find("<section id=\"store-3000\">");
  EXPECT_NE(page.find("<td class=\"n\">2</td><td>2026-01-28</td><td>mechanics</td><td>re-taught</td>", section),
            std::string::npos);
  // Without limits there is no acceptance; the comparison has no links.
  EXPECT_EQ(page.find("Acceptance"), std::string::npos);
  EXPECT_EQ(page.find("href=\"#run-"), std::string::npos);
}

TEST(FleetPage, TextsFromEventsFilesAndLimitsAreShownNeverObeyed) {
  std::vector<StoreHistory> stores = {Store(1000, 3, Drift::kSteady)};
  stores[0].runs[0].figures.file = "<img src=x onerror=alert(1)>\x1b[31m.spf";
  stores[0].runs[2].figures.operatorName = "<b>Op</b>\x07";
  stores[0].events.push_back(Serviced(1000, Day(2026, 1, 10), "<script>alert(1)</script> & \"x\"\x1b[2J"));
  stores[0].lastAccepted = 0;
  stores[0].lastVerdict = "NOT accepted: <i>mean</i>";
  const std::string page = WriteFleetPage(stores, "vekton-archive <1>", "lim<its>.toml");
  for (const char* bad : {"<script", "<img", "<b>", "<i>", "<1>", "<its>", "\x1b", "\x07"})
    EXPECT_EQ(page.find(bad), std::string::npos) << bad;
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot;"), std::string::npos);
  EXPECT_NE(page.find("<td class=\"acc bad\">NOT accepted: &lt;i&gt;mean&lt;/i&gt;</td>"), std::string::npos);
  EXPECT_NE(page.find("limits: lim&lt;its&gt;.toml"), std::string::npos);
}

TEST(FleetPage, FiveHundredStoresOfTwentyRunsStayUnderFiveMegabytes) {
  std::vector<StoreHistory> stores;
  for (int i = 0; i < 500; ++i) {
    stores.push_back(Store(1000 + i, 20, i % 7 ? Drift::kSteady : Drift::kDrifting));
    stores.back().events.push_back(Serviced(1000 + i, Day(2026, 2, 3), "gripper replaced"));
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string page = WriteFleetPage(stores, "vekton-archive 1.0.0", "limits.toml");
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("500 stores x 20 runs: %zu bytes in %.0f ms\n", page.size(), ms);
  EXPECT_LT(page.size(), 5u * 1000 * 1000);
  EXPECT_EQ(Count(page, "<section id=\"store-"), 500u);
}
