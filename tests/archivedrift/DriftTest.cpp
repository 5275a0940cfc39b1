// Drift judged on runs the console itself wrote against the simulated store:
// a store made a quarter slower is flagged against its own baseline, another
// run of the same store is not.
#include <gtest/gtest.h>

#include <iostream>

#include "archive/Drift.h"
#include "bench/ResultFiles.h"
#include "report/PageParts.h"

using namespace archive;

namespace {

// A two-hour run on the Thursday `week` weeks after 1 October 2026.
StoredRun MadeRun(int64_t id, int week, double speed) {
  ResultRunPlan plan;
  plan.day = 1 + 7 * week;
  plan.month = plan.day > 31 ? 11 : 10;
  plan.day -= plan.day > 31 ? 31 : 0;
  plan.hours = 2;
  plan.speed = speed;
  plan.seed = static_cast<uint32_t>(id);
  const report::ReadResult read = report::ReadResultFile(JoinLines(MakeResultFileLines(plan)), "run.spf");
  EXPECT_TRUE(read.run.complete) << read.error.text << read.run.incompleteReason;
  StoredRun r = StoredRunOf(read.run);
  r.id = id;
  return r;
}

Event EventOn(int novemberDay, bool mechanics) {
  Event e;
  e.when = {true, 2026, 11, novemberDay, 0, 0, 0};
  e.mechanics = mechanics;
  return e;
}

// Five weeks of the standard store (runs 1-5), then in week 5 the newest:
// run 6 a quarter slower, run 7 the same store again.
const std::vector<StoredRun>& Made() {
  static const std::vector<StoredRun> runs = [] {
    std::vector<StoredRun> r;
    for (int w = 0; w < 5; ++w) r.push_back(MadeRun(w + 1, w, 1.0));
    r.push_back(MadeRun(6, 5, 0.8));
    r.push_back(MadeRun(7, 5, 1.0));
    return r;
  }();
  return runs;
}

std::vector<StoredRun> BaselineAnd(int64_t newest) {
  std::vector<StoredRun> runs(Made().begin(), Made().begin() + 5);
  runs.push_back(Made()[static_cast<size_t>(newest - 1)]);
  return runs;
}

TEST(DriftFromConsole, AStoreAQuarterSlowerIsFlagged) {
  const Drift d = FindDrift(BaselineAnd(6), {});
  std::cout << "slower: " << d.Figures() << "\n";
  EXPECT_EQ(d.state, Drift::kDrifting);
  EXPECT_EQ(d.baselineIds, (std::vector<int64_t>{1, 2, 3, 4, 5}));
  EXPECT_GT(d.rise, 0.15);
  EXPECT_LT(d.p, 0.0001);
  EXPECT_NE(d.Figures().find(", p < 0.0001, 5 runs before"), std::string::npos);
}

TEST(DriftFromConsole, AnotherRunOfTheSameStoreIsSteady) {
  const Drift d = FindDrift(BaselineAnd(7), {});
  std::cout << "same: " << d.Figures() << "\n";
  EXPECT_EQ(d.state, Drift::kSteady);
  // Steady by both conditions, neither of them near its level by luck.
  EXPECT_LT(std::abs(d.rise), DriftSettings{}.share / 2);
  EXPECT_GT(d.p, 0.05);
}

// Only a change to the mechanics up to the newest's start begins a new
// baseline; the newest is the last complete run, not the last run.
TEST(DriftFromConsole, WhichRunsAreCompared) {
  const Drift cut = FindDrift(BaselineAnd(6), {EventOn(2, true), EventOn(30, true)});
  EXPECT_EQ(cut.state, Drift::kNoBaseline);
  EXPECT_EQ(cut.Figures(), "mean " + report::page::Fixed(Made()[5].figures.mean, 2) +
                               " s, no earlier complete run since the event of 2026-11-02 to compare");
  EXPECT_EQ(FindDrift(BaselineAnd(6), {EventOn(2, false)}).state, Drift::kDrifting);

  std::vector<StoredRun> runs = BaselineAnd(6);
  runs.push_back(Made()[6]);
  runs.back().figures.complete = false;
  runs.back().figures.start.day = 20;
  EXPECT_EQ(FindDrift(runs, {}).newestId, 6);
  EXPECT_EQ(FindDrift({}, {}).Figures(), "no complete run");
}

TEST(KolmogorovSmirnov, HandMadeHistograms) {
  double d = -1, p = -1;
  KolmogorovSmirnov({0, 30, 50, 20}, {0, 30, 50, 20, 0, 0}, d, p);
  EXPECT_EQ(d, 0);
  EXPECT_EQ(p, 1);
  KolmogorovSmirnov({40, 60}, {0, 0, 10, 90}, d, p);
  EXPECT_EQ(d, 1);
  EXPECT_LT(p, 1e-10);
  // n = m = 100: D 0.2 is lambda 1.44, p 0.031; D 0.1 is lambda 0.72,
  // p 0.68 (either side of 1.18, where the sum changes its form).
  KolmogorovSmirnov({50, 50}, {30, 70}, d, p);
  EXPECT_NEAR(p, 0.0314, 0.0005);
  KolmogorovSmirnov({50, 50}, {40, 60}, d, p);
  EXPECT_NEAR(p, 0.677, 0.002);
  KolmogorovSmirnov({}, {5}, d, p);
  EXPECT_EQ(p, 1);
}

}  // namespace
