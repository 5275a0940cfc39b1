// The page's pieces where a fault would hide in plain sight: text that is
// not UTF-8, axes whose ticks must be round, and path data written relative
// and shortened, which must still go through the points it was given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PageTestSupport.h"

using namespace report::page;
using namespace pagetest;

TEST(ReportPageParts, TextIsMadeCleanBeforeItIsEscaped) {
  EXPECT_EQ(Html("M\xC3\xBCller & <Co> \"x\" 'y'"), "M\xC3\xBCller &amp; &lt;Co&gt; &quot;x&quot; &#39;y&#39;");
  const std::string r = "\xEF\xBF\xBD";
  // Not UTF-8: a lone continuation byte, a cut sequence, an overlong '<',
  // a surrogate, beyond U+10FFFF; controls of both kinds.
  EXPECT_EQ(CleanText("a\x80"
                      "b"),
            "a" + r + "b");
  EXPECT_EQ(CleanText("\xE2\x82"), r + r);
  EXPECT_EQ(CleanText("\xC0\xBC"), r + r);
  EXPECT_EQ(CleanText("\xED\xA0\x80"), r + r + r);
  EXPECT_EQ(CleanText("\xF4\x90\x80\x80"), r + r + r + r);
  EXPECT_EQ(CleanText("tab\there\r\n\x7F\xC2\x85"), "tab" + r + "here" + r + r + r + r);
  EXPECT_EQ(CleanText("\xF0\x9F\x99\x82 \xE2\x82\xAC \xC2\xA0"), "\xF0\x9F\x99\x82 \xE2\x82\xAC \xC2\xA0");
  EXPECT_EQ(HtmlFromFile("M\x81ller"), "M\xC3\xBCller");
}

TEST(ReportPageParts, AxesHaveRoundTicksAroundTheData) {
  Axis a = NiceAxis(0, 8173, 5);
  EXPECT_DOUBLE_EQ(a.lo, 0);
  EXPECT_DOUBLE_EQ(a.step, 2000);
  EXPECT_DOUBLE_EQ(a.hi, 10000);
  EXPECT_EQ(a.Count(), 6);
  EXPECT_EQ(a.decimals, 0);

  a = NiceAxis(-20.3, -19.8, 3);  // a freezer's temperature
  EXPECT_DOUBLE_EQ(a.step, 0.2);
  EXPECT_NEAR(a.lo, -20.4, 1e-9);
  EXPECT_NEAR(a.hi, -19.8, 1e-9);
  EXPECT_EQ(a.decimals, 1);
  ASSERT_EQ(a.Count(), 4);
  EXPECT_EQ(Fixed(a.Tick(1), a.decimals), "-20.2");
  EXPECT_EQ(Fixed(a.Tick(3), a.decimals), "-19.8");

  a = NiceAxis(5.0, 5.0, 3);  // a flat line still gets an axis around it
  EXPECT_LT(a.lo, 5.0);
  EXPECT_GT(a.hi, 5.0);

  a = NiceAxis(2.5, 8.5, 10);
  EXPECT_DOUBLE_EQ(a.step, 1);
  EXPECT_DOUBLE_EQ(a.lo, 2);
  EXPECT_DOUBLE_EQ(a.hi, 9);

  a = NiceAxis(0.01, 0.07, 5);
  EXPECT_EQ(a.decimals, 2);
  EXPECT_EQ(Fixed(a.Tick(1), a.decimals), "0.02");

  a = TimeAxis(24.0, true, 10);  // a day: every three hours
  EXPECT_DOUBLE_EQ(a.step, 3);
  EXPECT_EQ(a.Count(), 9);
  a = TimeAxis(23.5, true, 10);  // the axis ends with the data
  EXPECT_EQ(a.Count(), 8);
  a = TimeAxis(30, false, 10);
  EXPECT_DOUBLE_EQ(a.step, 5);
  EXPECT_EQ(a.Count(), 7);
}

TEST(ReportPageParts, PathDataGoesThroughEveryCornerItWasGiven) {
  PathData d;
  d.MoveTo(10, 20);
  d.LineTo(15, 20);
  d.LineTo(20, 20);  // straight on: one h
  d.LineTo(20, 12.25);
  d.LineTo(20, 10);  // straight up: one v
  d.LineTo(20, 10);  // nowhere: dropped
  d.LineTo(25.04, 13.06);
  d.LineTo(20, 20);
  d.MoveTo(100, 100);
  d.LineTo(90, 100);
  d.LineTo(95, 100);  // back the way it came: a corner, kept
  d.Rect(50, 60, 4.5, 10);
  d.LineTo(52, 61);
  const std::string s = d.Take();
  EXPECT_EQ(s, "M10 20h10v-10l5 3.1l-5 6.9m80 80h-10h5m-45-40h4.5v10h-4.5zl2 1");
  const auto v = Vertices(s);
  ASSERT_EQ(v.size(), 4u);
  const std::vector<std::vector<Pt>> want = {{{10, 20}, {20, 20}, {20, 10}, {25, 13.1}, {20, 20}},
                                             {{100, 100}, {90, 100}, {95, 100}},
                                             {{50, 60}, {54.5, 60}, {54.5, 70}, {50, 70}},
                                             {{50, 60}, {52, 61}}};
  for (size_t i = 0; i < want.size(); ++i) {
    ASSERT_EQ(v[i].size(), want[i].size()) << i;
    for (size_t k = 0; k < want[i].size(); ++k) {
      EXPECT_NEAR(v[i][k].x, want[i][k].x, 1e-9) << i << "/" << k;
      EXPECT_NEAR(v[i][k].y, want[i][k].y, 1e-9) << i << "/" << k;
    }
  }
  EXPECT_EQ(d.Take(), "");  // a fresh start after Take

  // Rounding is of the absolute points, so many small steps do not drift.
  for (int i = 0; i <= 1000; ++i) i == 0 ? d.MoveTo(0, 0) : d.LineTo(i * 0.33, (i % 2) * 0.26);
  const auto long_ = Vertices(d.Take());
  ASSERT_EQ(long_.size(), 1u);
  EXPECT_NEAR(long_[0].back().x, 330.0, 1e-9);
  EXPECT_EQ(Tenths(-5), "-.5");
  EXPECT_EQ(Tenths(-125), "-12.5");
  EXPECT_EQ(Tenths(120), "12");
}

TEST(ReportPageParts, DurationsAndTheComparisonOrder) {
  EXPECT_EQ(Duration(86399), "23 h 59 min");
  EXPECT_EQ(Duration(3600), "1 h 00 min");
  EXPECT_EQ(Duration(725), "12 min 05 s");
  EXPECT_EQ(Duration(40), "40 s");
  EXPECT_EQ(Duration(-1), "");

  // Across midnight and a year's end.
  report::Run run = CompleteRun("x.spf", At(2026, 12, 31, 23, 30, 0));
  const auto end = [&run](report::Stamp s) { run.headers[2].stamp = run.headers[3].stamp = s; };
  end(At(2027, 1, 1, 0, 15, 30));
  EXPECT_EQ(RunSeconds(run), 45 * 60 + 30);
  end(At(2026, 12, 31, 23, 0, 0));  // a clock set back
  EXPECT_EQ(RunSeconds(run), -1);
  end(report::Stamp{});
  EXPECT_EQ(RunSeconds(run), -1);
}
