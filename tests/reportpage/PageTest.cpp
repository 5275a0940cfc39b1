// The report page: nothing from a file reaches it as markup, nothing in it
// reaches outside the page, each chart is there when its data is, the
// comparison runs in start order, and no reset value is shown as a time.
#include <gtest/gtest.h>

#include <utility>
#include <string>
#include <vector>

#include "PageTestSupport.h"
#include "report/Page.h"

using namespace report;
using namespace pagetest;

namespace {

const std::string kGenerator = "vekton-report 1.0.0";

// The attributes of one tag ("<name a=\"v\" ...>"), name and value.
std::vector<std::pair<std::string, std::string>> Attributes(const std::string& tag) {
  std::vector<std::pair<std::string, std::string>> out;
  for (size_t eq = tag.find('='); eq != std::string::npos; eq = tag.find('=', eq + 1)) {
    size_t start = eq;
    while (start > 0 && tag[start - 1] != ' ' && tag[start - 1] != '<') --start;
    if (eq + 1 >= tag.size() || tag[eq + 1] != '"') {
      out.emplace_back(tag.substr(start, eq - start), "(unquoted)");
      continue;
    }
    const size_t close = tag.find('"', eq + 2);
    out.emplace_back(tag.substr(start, eq - start), tag.substr(eq + 2, close - eq - 2));
    eq = close;
  }
  return out;
}

// Every way a page could make the browser fetch something or run code: tags
// and attributes (a literal '<' in the page is always a tag, since texts are
// escaped), and the style sheet's own ways.
std::vector<std::string> OutsideReferences(const std::string& page) {
  std::vector<std::string> found;
  static const char* const kTags[] = {"<script", "<link", "<img", "<iframe", "<object", "<embed", "<base",
                                      "<image", "<use", "<audio", "<video", "<source", "<form", "<meta http"};
  for (size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    const std::string tag = page.substr(at, page.find('>', at) + 1 - at);
    for (const char* bad : kTags)
      if (tag.rfind(bad, 0) == 0) found.push_back(tag);
    for (const auto& [name, value] : Attributes(tag)) {
      if (name == "href" && !value.empty() && value[0] == '#') continue;
      if (name == "href" || name == "src" || name == "xlink:href" || name == "srcset" || name == "action" ||
          name == "style" || name.rfind("on", 0) == 0 || value == "(unquoted)")
        found.push_back(tag);
    }
  }
  for (const char* bad : {"url(", "@import", "http:", "https:", "ftp:", "data:", "//", "javascript:"})
    if (page.find(bad) != std::string::npos) found.push_back(bad);
  return found;
}

report::Run Hostile() {
  report::Run r = CompleteRun("<img src=x onerror=alert(1)>\x1b[31m.spf", At(2026, 1, 5, 17, 0, 2));
  for (Header& h : r.headers) {
    h.operatorName = "<script>alert(1)</script> & \"x\" 'y'\x07\x1b[2J";
    h.firmware = "7.1.20<b>";
  }
  r.summary.access = "</td></tr></table><script>";
  r.problems.push_back({40, "line <i>cut</i> & \"quoted\""});
  r.complete = false;
  r.incompleteReason = "ends <here> & 'now'";
  return r;
}

}  // namespace

TEST(ReportPage, TextFromAFileIsShownNeverObeyed) {
  const std::string page = WritePage({Hostile(), CompleteRun("b.spf", At(2026, 2, 5, 17, 0, 2))}, kGenerator);
  EXPECT_EQ(OutsideReferences(page), std::vector<std::string>{});
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_EQ(page.find("<i>"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt; &amp; &quot;x&quot; &#39;y&#39;"), std::string::npos);
  EXPECT_NE(page.find("&lt;img src=x onerror=alert(1)&gt;\xEF\xBF\xBD[31m.spf"), std::string::npos);
  EXPECT_NE(page.find("line 40: line &lt;i&gt;cut&lt;/i&gt; &amp; &quot;quoted&quot;"), std::string::npos);
  EXPECT_NE(page.find("Ends &lt;here&gt; &amp; &#39;now&#39;"), std::string::npos);
  EXPECT_NE(page.find("&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;script&gt;"), std::string::npos);
  // Control characters would reach a terminal that shows the page's source.
  for (char c : page) {
    const auto u = static_cast<unsigned char>(c);
    EXPECT_TRUE(u >= 0x20 || c == '\n') << "control character " << int(u);
  }
  // The file's own control bytes are code page 437 glyphs: shown as such.
  EXPECT_NE(page.find("&#39;y&#39;\xE2\x80\xA2\xE2\x86\x90[2J"), std::string::npos);
  // The generator is the caller's, but goes through the same door.
  EXPECT_NE(WritePage({}, "<x>").find("&lt;x&gt;"), std::string::npos);
}

TEST(ReportPage, NoPageReachesOutsideItself) {
  report::Run bare;
  bare.file = "bare.spf";
  bare.headers.push_back(MakeHeader(1, "System Data Summary", Stamp{}));
  bare.incompleteReason = "the file ends in the system data";
  report::Run damaged = CompleteRun("d.spf", At(2026, 3, 1, 8, 0, 0), 1500);
  damaged.problems.push_back({0, "the last line has no line end"});
  damaged.summary.carPosErrors = 2;
  const std::vector<std::vector<report::Run>> pages = {
      {},
      {CompleteRun("one.spf", At(2026, 1, 5, 17, 0, 2))},
      {bare},
      {CompleteRun("a.spf", At(2026, 1, 5, 17, 0, 2)), bare, damaged},
  };
  // The scan itself finds what it looks for.
  EXPECT_EQ(OutsideReferences("<p><a href=\"#run-1\">1</a> <a href=\"x.html\">x</a><b class=x>b</b></p>").size(),
            2u);
  for (const auto& runs : pages) {
    const std::string page = WritePage(runs, kGenerator);
    EXPECT_EQ(OutsideReferences(page), std::vector<std::string>{}) << runs.size() << " runs";
    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">", 0), 0u);
    EXPECT_NE(page.find("@media print"), std::string::npos);
    EXPECT_NE(page.find(kGenerator), std::string::npos);
    EXPECT_EQ(Count(page, "<svg"), Count(page, "</svg>"));
    EXPECT_EQ(Count(page, "<svg"), Count(page, "viewBox=\"0 0 "));
  }
}

TEST(ReportPage, EachChartIsThereWhenItsDataIsAndOtherwiseANote) {
  const report::Run full = CompleteRun("full.spf", At(2026, 1, 5, 17, 0, 2));
  std::string page = WritePage({full}, kGenerator);
  std::vector<std::string> svgs = Svgs(page);
  ASSERT_EQ(svgs.size(), 2u);
  EXPECT_NE(svgs[0].find("Histogram"), std::string::npos);
  EXPECT_EQ(PathsOf(svgs[0], std::string("fill=\"") + page::kReadyColour).size(), 1u);
  EXPECT_EQ(PathsOf(svgs[0], std::string("fill=\"") + page::kPlateReadyColour).size(), 1u);
  EXPECT_NE(svgs[0].find(">Accesses<"), std::string::npos);
  EXPECT_NE(svgs[0].find("[s]"), std::string::npos);
  EXPECT_NE(svgs[0].find(">PlateReady<"), std::string::npos);
  EXPECT_NE(svgs[1].find("Climate"), std::string::npos);
  EXPECT_EQ(PathsOf(svgs[1], "class=\"line\"").size(), 3u);  // temperature, humidity, CO2
  EXPECT_NE(svgs[1].find("[\xC2\xB0"
                         "C]"),
            std::string::npos);
  EXPECT_NE(svgs[1].find("[%RH]"), std::string::npos);
  EXPECT_NE(svgs[1].find("[min]"), std::string::npos);  // half an hour is told in minutes
  EXPECT_EQ(page.find("class=\"nodata\""), std::string::npos);

  // Cut short in the climate data: no histogram, no summary.
  report::Run cut = full;
  cut.histogram.clear();
  cut.headers.resize(2);
  cut.summary = Summary{};
  cut.complete = false;
  cut.incompleteReason = "the file ends in the climate data, line 50";
  page = WritePage({cut}, kGenerator);
  svgs = Svgs(page);
  ASSERT_EQ(svgs.size(), 1u);
  EXPECT_NE(svgs[0].find("Climate"), std::string::npos);
  EXPECT_NE(page.find("No histogram in the file"), std::string::npos);
  EXPECT_NE(page.find("No test summary"), std::string::npos);
  EXPECT_NE(page.find("at least 30 min 00 s (climate lines)"), std::string::npos);

  // A run stopped within its first minute has a histogram but no climate line.
  report::Run quick = full;
  quick.climate.clear();
  page = WritePage({quick}, kGenerator);
  svgs = Svgs(page);
  ASSERT_EQ(svgs.size(), 1u);
  EXPECT_NE(svgs[0].find("Histogram"), std::string::npos);
  EXPECT_NE(page.find("No climate readings in the file"), std::string::npos);

  // Several runs: the trend first, then each run's two.
  page = WritePage({full, quick, cut}, kGenerator);
  svgs = Svgs(page);
  ASSERT_EQ(svgs.size(), 1u + 2 + 1 + 1);
  EXPECT_NE(svgs[0].find("Mean and maximum access time per run"), std::string::npos);
}

TEST(ReportPage, TheVerdictComesFirstAndSaysWhatIsWrong) {
  report::Run ok = CompleteRun("ok.spf", At(2026, 1, 5, 17, 0, 2));
  std::string page = WritePage({ok}, kGenerator);
  EXPECT_NE(page.find("<div class=\"verdict ok\">"), std::string::npos);
  EXPECT_LT(page.find("class=\"verdict"), page.find("<dl class=\"facts\">"));
  EXPECT_NE(page.find("Complete</span>The run ended with its test summary and no carousel position errors"),
            std::string::npos);
  EXPECT_NE(page.find("Default User"), std::string::npos);
  EXPECT_NE(page.find("2026-01-05 17:00:02"), std::string::npos);
  EXPECT_NE(page.find("2026-01-05 17:30:02"), std::string::npos);  // the end
  EXPECT_NE(page.find(">30 min 00 s<"), std::string::npos);
  EXPECT_NE(page.find(">ok.spf<"), std::string::npos);
  EXPECT_NE(page.find(">7.1.20<"), std::string::npos);

  report::Run bad = ok;
  bad.summary.carPosErrors = 3;
  bad.summary.totalAccesses -= 2;  // the histogram holds two more
  bad.problems = {{45, "not a climate line"}, {46, "not a climate line"}};
  page = WritePage({bad}, kGenerator);
  EXPECT_NE(page.find("<div class=\"verdict bad\">"), std::string::npos);
  EXPECT_NE(page.find("3 carousel position errors"), std::string::npos);
  EXPECT_NE(page.find("At least 2 accesses are in the histogram but not in the total"), std::string::npos);
  EXPECT_NE(page.find("2 lines in the file, left out of the figures"), std::string::npos);
  EXPECT_NE(page.find("<li>line 46: not a climate line</li>"), std::string::npos);

  report::Run warn = ok;
  warn.problems.assign(25, Problem{50, "garbled"});
  page = WritePage({warn}, kGenerator);
  EXPECT_NE(page.find("<div class=\"verdict warn\">"), std::string::npos);
  EXPECT_EQ(Count(page, "<li>line 50: garbled</li>"), 20u);
  EXPECT_NE(page.find("and 5 more."), std::string::npos);

  report::Run cut = ok;
  cut.complete = false;
  cut.incompleteReason = "the file ends in the test summary, line 120";
  page = WritePage({cut}, kGenerator);
  EXPECT_NE(page.find("Incomplete</span>The file ends in the test summary, line 120. The summary is cut short."),
            std::string::npos);
}

TEST(ReportPage, RunsAreComparedInTheOrderTheyStarted) {
  // Given: February, no date, January, February earlier in the day, no date.
  report::Run feb = CompleteRun("feb.spf", At(2026, 2, 2, 18, 0, 0));
  report::Run none1 = CompleteRun("none1.spf", Stamp{});
  report::Run jan = CompleteRun("jan.spf", At(2026, 1, 31, 23, 59, 59));
  report::Run febEarly = CompleteRun("febearly.spf", At(2026, 2, 2, 7, 30, 0));
  report::Run none2 = CompleteRun("none2.spf", Stamp{});
  // Slower every month: the trend must show the points in this order.
  jan.summary.mean[kAll].ready = 5.1;
  febEarly.summary.mean[kAll].ready = 5.2;
  feb.summary.mean[kAll].ready = 5.3;
  const std::string page = WritePage({feb, none1, jan, febEarly, none2}, kGenerator);
  const size_t table = page.find("<table class=\"cmp\">");
  ASSERT_NE(table, std::string::npos);
  const size_t tableEnd = page.find("</table>", table);
  std::vector<size_t> at;
  for (const char* n : {"#run-3", "#run-4", "#run-1", "#run-2", "#run-5"}) at.push_back(page.find(n, table));
  for (size_t i = 0; i + 1 < at.size(); ++i) EXPECT_LT(at[i], at[i + 1]) << i;
  EXPECT_LT(at.back(), tableEnd);
  // Sections keep the order given.
  EXPECT_LT(page.find("<section id=\"run-1\">"), page.find("<section id=\"run-2\">"));
  EXPECT_LT(page.find(">feb.spf<", tableEnd), page.find(">jan.spf<", tableEnd));

  const std::vector<std::string> svgs = Svgs(page);
  ASSERT_FALSE(svgs.empty());
  const std::string& trend = svgs[0];
  const size_t d1 = trend.find("2026-01-31"), d2 = trend.find("2026-02-02");
  EXPECT_LT(d1, d2);
  const std::vector<std::string> lines = PathsOf(trend, std::string("class=\"line\" stroke=\"") + page::kMeanColour);
  ASSERT_EQ(lines.size(), 1u);
  const auto v = Vertices(lines[0]);
  ASSERT_EQ(v.size(), 1u);
  ASSERT_EQ(v[0].size(), 5u);
  for (size_t i = 0; i + 1 < 3; ++i) {
    EXPECT_LT(v[0][i].x, v[0][i + 1].x);
    EXPECT_GT(v[0][i].y, v[0][i + 1].y) << "run " << i << " is not drawn faster than the next";
  }
}

TEST(ReportPage, TrendOfTwoCloseRunsOfOneDayNeitherExaggeratesNorSharesALabel) {
  report::Run morning = CompleteRun("morning.spf", At(2026, 3, 2, 8, 15, 0));
  report::Run evening = CompleteRun("evening.spf", At(2026, 3, 2, 17, 40, 0));
  morning.summary.mean[kAll].ready = morning.summary.maximum[kAll].ready = 2.0;
  evening.summary.mean[kAll].ready = evening.summary.maximum[kAll].ready = 2.1;
  const std::string trend = Svgs(WritePage({morning, evening}, kGenerator))[0];
  const std::vector<std::string> lines = PathsOf(trend, std::string("class=\"line\" stroke=\"") + page::kMeanColour);
  ASSERT_EQ(lines.size(), 1u);
  const auto v = Vertices(lines[0]);
  ASSERT_EQ(v.size(), 1u);
  ASSERT_EQ(v[0].size(), 2u);
  // A tenth of a second on an axis of at least a second: a tenth of the
  // plot's height (198 px) at the most, not all of it.
  EXPECT_LE(v[0][0].y - v[0][1].y, 20.5);
  EXPECT_GT(v[0][0].y, v[0][1].y);
  EXPECT_NE(trend.find(">08:15<"), std::string::npos);
  EXPECT_NE(trend.find(">17:40<"), std::string::npos);
}

TEST(ReportPage, FiguresThatAreNotTimesShowAsDashes) {
  report::Run noLoads = CompleteRun("noloads.spf", At(2026, 1, 5, 17, 0, 2));
  Unmeasured(noLoads.summary, kLoad, 17.5);
  report::Run noSummary = CompleteRun("nosummary.spf", At(2026, 1, 12, 17, 0, 2));
  noSummary.summary = Summary{};
  noSummary.histogram.clear();
  noSummary.complete = false;
  noSummary.incompleteReason = "the file ends in the climate data, line 50";
  report::Run noAccess = CompleteRun("noaccess.spf", At(2026, 1, 19, 17, 0, 2));
  noAccess.histogram.clear();
  noAccess.summary.totalAccesses = 0;
  for (Group g : {kAll, kLoad, kUnload}) Unmeasured(noAccess.summary, g, 0.0);

  const std::string page = WritePage({noLoads, noSummary, noAccess}, kGenerator);
  EXPECT_EQ(page.find("21474836"), std::string::npos);
  EXPECT_EQ(page.find(">17.5<"), std::string::npos);
  // The load row of the first run: six dashes.
  const size_t section = page.find("<section id=\"run-1\">");
  const size_t load = page.find("<tr><th>Load</th>", section);
  ASSERT_NE(load, std::string::npos);
  const std::string row = page.substr(load, page.find("</tr>", load) - load);
  EXPECT_EQ(Count(row, "\xE2\x80\x93</td>"), 6u) << row;
  EXPECT_EQ(Count(page.substr(section, page.find("</section>", section) - section), ">5.9<"), 2u);  // all and unload
  // The trend has the one measured run only: a lone point, no line.
  const std::string trend = Svgs(page)[0];
  EXPECT_EQ(Count(trend, "<circle"), 2u);  // its mean and its maximum
  EXPECT_NE(trend.find("mean 5.9 s"), std::string::npos);
  // A page whose runs have no measured time at all has no trend to draw.
  const std::string none = WritePage({noSummary, noAccess}, kGenerator);
  EXPECT_NE(none.find("No run has a measured access time"), std::string::npos);
  EXPECT_EQ(none.find("Mean and maximum access time per run"), std::string::npos);
}

TEST(ReportPage, ADaysClimateIsThinnedButKeepsItsSpike) {
  report::Run day = CompleteRun("day.spf", At(2026, 1, 5, 17, 0, 2), 1440);
  day.climate[700].temperature = 60.0;  // one reading, a door left open
  const std::string page = WritePage({day}, kGenerator);
  EXPECT_LT(page.size(), 20000u);
  const std::vector<std::string> svgs = Svgs(page);
  ASSERT_EQ(svgs.size(), 2u);
  EXPECT_NE(svgs[1].find("[h]"), std::string::npos);
  const std::vector<std::string> lines = PathsOf(svgs[1], "class=\"line\"");
  ASSERT_EQ(lines.size(), 3u);
  const auto v = Vertices(lines[0]);
  ASSERT_EQ(v.size(), 1u);
  EXPECT_LT(v[0].size(), 1440u / 2);
  double top = 1e9, bottom = -1e9, leftmost = 1e9, rightmost = -1e9;
  for (const Pt& p : v[0]) {
    top = std::min(top, p.y), bottom = std::max(bottom, p.y);
    leftmost = std::min(leftmost, p.x), rightmost = std::max(rightmost, p.x);
  }
  // 37.0 .. 60.0 on an axis from 30 to 60 (steps of 10) in a panel 78 high
  // whose top is at 26: the spike reaches the top, the rest stays low.
  EXPECT_NEAR(top, 26.0, 0.11);
  EXPECT_NEAR(bottom, 26.0 + 78.0 * (60 - 37.0) / 30, 0.6);
  EXPECT_GT(rightmost - leftmost, 700);
  EXPECT_NE(svgs[1].find("max 60.0"), std::string::npos);
}

TEST(ReportPage, TrendOfRunsWeeksApartIsToScaleAndEventsStandWhereTheyFell) {
  using page::TrendPoint;
  const auto eventX = [](const std::string& svg) {
    const std::vector<std::string> d = PathsOf(svg, "stroke-dasharray=\"4 3\"");
    EXPECT_EQ(d.size(), 1u);
    return d.empty() ? std::vector<std::vector<Pt>>{} : Vertices(d[0]);
  };
  const auto meanLine = [](const std::string& svg) {
    const auto v = Vertices(PathsOf(svg, std::string("class=\"line\" stroke=\"") + page::kMeanColour).at(0));
    EXPECT_EQ(v.size(), 1u);
    return v.at(0);
  };
  // One week, then seven: the second gap is seven times the first.
  const std::vector<TrendPoint> far = {{At(2026, 1, 5, 17, 0, 0), 5.0, 7.0},
                                       {At(2026, 1, 12, 17, 0, 0), 5.1, 7.1},
                                       {At(2026, 3, 2, 17, 0, 0), 5.2, 7.2}};
  const std::string svg = page::TrendChart(far, {{At(2026, 2, 2, 17, 0, 0), "gripper <b>"}});
  EXPECT_NE(svg.find("to scale"), std::string::npos);
  EXPECT_NE(svg.find("<title>2026-02-02: gripper &lt;b&gt;</title>"), std::string::npos);
  EXPECT_NE(svg.find(">2026-01-19<"), std::string::npos);  // Mondays, two weeks apart from the first
  const std::vector<Pt> v = meanLine(svg);
  ASSERT_EQ(v.size(), 3u);
  EXPECT_NEAR((v[2].x - v[1].x) / (v[1].x - v[0].x), 7.0, 0.05);
  const auto ev = eventX(svg);
  ASSERT_EQ(ev.size(), 1u);
  EXPECT_NEAR((ev[0][0].x - v[1].x) / (v[2].x - v[1].x), 3.0 / 7, 0.01);

  // Runs of one day stand side by side; the event between them goes between.
  const std::vector<TrendPoint> close = {{At(2026, 3, 2, 8, 15, 0), 5.0, 7.0}, {At(2026, 3, 2, 17, 40, 0), 5.1, 7.1}};
  const std::string side = page::TrendChart(close, {{At(2026, 3, 2, 12, 0, 0), "belt"}});
  EXPECT_EQ(side.find("to scale"), std::string::npos);
  const std::vector<Pt> w = meanLine(side);
  const auto sev = eventX(side);
  ASSERT_EQ(w.size(), 2u);
  ASSERT_EQ(sev.size(), 1u);
  EXPECT_GT(sev[0][0].x, w[0].x + 1);
  EXPECT_LT(sev[0][0].x, w[1].x - 1);
}
