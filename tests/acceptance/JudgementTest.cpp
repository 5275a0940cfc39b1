// The judgement of result files the console wrote in-process: a file of
// figures chosen so that every criterion's figure is known, each criterion
// judged at its limit and one step beyond it; figures a file cannot give;
// runs cut short; and the console's verdict line.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "ReaderSupport.h"
#include "VKT_Lib3/Globals.h"
#include "report/Acceptance.h"
#include "report/Cli.h"

using report::Criterion;
using report::Judgement;
using report::Limits;
using report::Outcome;

namespace {

void SetTimes(HandlingGroup& g, int32_t readyMin, int32_t readyMax, double readySum, int32_t plateMin, int32_t plateMax,
              double plateSum) {
  g.ReadyMin = readyMin, g.ReadyMax = readyMax, g.ReadySum = readySum;
  g.PlateMin = plateMin, g.PlateMax = plateMax, g.PlateSum = plateSum;
}

// Ten counted accesses (six loads, four unloads) and one more in the
// histogram that was not counted, ten climate minutes.
const ConsoleFile& FiguresFile() {
  static const ConsoleFile f = WriteFromFigures(
      [] {
        AccessNumber = 10, LoadCount = 6, UnloadCount = 4;
        CarPosErrors = 2;
        WaitTime = 2;
        SetTimes(HandlingStats[kGroupAll], 800, 1530, 123.0, 300, 720, 51.0);
        SetTimes(HandlingStats[kGroupLoad], 800, 1410, 72.6, 300, 650, 31.2);
        SetTimes(HandlingStats[kGroupUnload], 1000, 1530, 50.4, 350, 720, 19.6);
        for (int b : {16, 16, 22, 24, 26, 28}) ++TimeHistogram[b][kReadyAll], ++TimeHistogram[b][kReadyLoad];
        for (int b : {20, 22, 26, 30, 31}) ++TimeHistogram[b][kReadyAll], ++TimeHistogram[b][kReadyUnload];
        for (int b : {6, 7, 8, 10, 12, 13}) ++TimeHistogram[b][kPlateAll], ++TimeHistogram[b][kPlateLoad];
        for (int b : {7, 9, 11, 14}) ++TimeHistogram[b][kPlateAll], ++TimeHistogram[b][kPlateUnload];
      },
      {{37.0, 92, 5.0, 21},
       {36.4, 92, 5.6, 21},
       {36.3, 92, 5.0, 21},
       {37.0, 92, 5.6, 21},
       {38.0, 92, 5.6, 21},
       {38.1, 92, 5.0, 21},
       {37.9, 92, 5.0, 21},
       {37.2, 92, 5.0, 21},
       {37.5, 92, 5.0, 21},
       {36.5, 92, 4.4, 21}});
  return f;
}

report::Run ReadRun(const std::string& bytes) {
  const report::ReadResult r = Read(bytes);
  EXPECT_EQ(r.status, report::ReadStatus::kRead) << r.error.text;
  return r.run;
}

// Bands of the figures file; nothing asked.
Limits Bands() {
  Limits l;
  l.band[report::kTemperature] = {true, 36.5, 37.5};
  l.band[report::kHumidity] = {true, 90, 95};
  l.band[report::kCo2] = {true, 4.5, 5.5};
  return l;
}

report::CriterionResult JudgeOne(const report::Run& run, Criterion c, double limit) {
  Limits l = Bands();
  l.limit[c] = limit;
  const Judgement j = report::Judge(run, l);
  EXPECT_EQ(j.criteria.size(), 1u);
  return j.criteria.empty() ? report::CriterionResult{} : j.criteria[0];
}

bool AtLeast(Criterion c) { return report::CriterionKey(c).find(".min_") != std::string::npos; }

bool Ascii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80 || c < 0x20) return false;
  return true;
}

}  // namespace

TEST(AcceptanceJudgement, EachCriterionPassesAtItsLimitAndFailsOneStepBeyond) {
  report::Run run = ReadRun(FiguresFile().Bytes());
  ASSERT_TRUE(run.complete) << run.incompleteReason;
  ASSERT_TRUE(report::ParseLineNote(report::LineNoteText(2, 75), run.lineLosses, run.lineDownSeconds));
  using report::kAll;
  using report::kLoad;
  using report::kUnload;
  using report::TimeCriterion;
  struct Case {
    Criterion c;
    double figure, step;
  };
  const Case cases[] = {
      {report::kRunMinAccesses, 10, 1},
      {report::kRunMaxCarPosErrors, 2, 1},
      {report::kRunMaxNotCounted, 1, 1},
      {TimeCriterion(false, kAll, report::kTimeMean), 12.3, 0.1},
      {TimeCriterion(false, kAll, report::kTimeMax), 15.3, 0.1},
      {TimeCriterion(false, kAll, report::kTimeP95), 16.0, 0.1},  // rank 11 of 11: bin 31
      {TimeCriterion(false, kLoad, report::kTimeMean), 12.1, 0.1},
      {TimeCriterion(false, kLoad, report::kTimeMax), 14.1, 0.1},
      {TimeCriterion(false, kLoad, report::kTimeP95), 14.5, 0.1},  // rank 6 of 6: bin 28
      {TimeCriterion(false, kUnload, report::kTimeMean), 12.6, 0.1},
      {TimeCriterion(false, kUnload, report::kTimeMax), 15.3, 0.1},
      {TimeCriterion(false, kUnload, report::kTimeP95), 16.0, 0.1},
      {TimeCriterion(true, kAll, report::kTimeMean), 5.1, 0.1},
      {TimeCriterion(true, kAll, report::kTimeMax), 7.2, 0.1},
      {TimeCriterion(true, kAll, report::kTimeP95), 7.5, 0.1},  // rank 10 of 10: bin 14
      {TimeCriterion(true, kLoad, report::kTimeMean), 5.2, 0.1},
      {TimeCriterion(true, kLoad, report::kTimeMax), 6.5, 0.1},
      {TimeCriterion(true, kLoad, report::kTimeP95), 7.0, 0.1},
      {TimeCriterion(true, kUnload, report::kTimeMean), 4.9, 0.1},
      {TimeCriterion(true, kUnload, report::kTimeMax), 7.2, 0.1},
      {TimeCriterion(true, kUnload, report::kTimeP95), 7.5, 0.1},
      // Both ends of a band are inside it; one minute of ten is a tenth.
      {report::InsideShareCriterion(report::kTemperature), 0.5, 0.1},
      {report::OutsideMinutesCriterion(report::kTemperature), 3, 1},
      {report::InsideShareCriterion(report::kHumidity), 1.0, 0.1},
      {report::OutsideMinutesCriterion(report::kHumidity), 0, 1},
      {report::InsideShareCriterion(report::kCo2), 0.6, 0.1},
      {report::OutsideMinutesCriterion(report::kCo2), 2, 1},
      {report::kLineMaxLosses, 2, 1},
      {report::kLineMaxDownSeconds, 75, 1},
  };
  std::vector<bool> covered(report::kCriterionCount);
  for (const Case& k : cases) {
    SCOPED_TRACE(report::CriterionKey(k.c));
    covered[k.c] = true;
    const double beyond = AtLeast(k.c) ? k.figure + k.step : k.figure - k.step;
    const double inside = AtLeast(k.c) ? k.figure - k.step : k.figure + k.step;
    const report::CriterionResult at = JudgeOne(run, k.c, k.figure);
    EXPECT_EQ(at.outcome, Outcome::kPassed) << at.figure << " " << at.limit << " " << at.why;
    EXPECT_DOUBLE_EQ(at.figureValue, k.figure);
    EXPECT_EQ(at.margin.find_first_not_of("0. smin%h"), std::string::npos) << at.margin;
    if (beyond >= 0) {
      const report::CriterionResult out = JudgeOne(run, k.c, beyond);
      EXPECT_EQ(out.outcome, Outcome::kFailed) << out.figure << " " << out.limit;
      EXPECT_EQ(out.margin.rfind('-', 0), 0u) << out.margin;
      EXPECT_NE(out.figure.substr(0, out.figure.find(' ')),
                out.limit.substr(out.limit.rfind(' ', out.limit.size() - 3) + 1))
          << out.figure << " / " << out.limit;
    }
    if (inside >= 0 && inside <= 1e6 && !(AtLeast(k.c) && k.figure == 0)) {
      const report::CriterionResult in = JudgeOne(run, k.c, inside);
      EXPECT_EQ(in.outcome, Outcome::kPassed);
      EXPECT_EQ(in.margin.rfind('+', 0), 0u) << in.margin;
    }
  }
  // Only the run's completeness and its length are judged on other runs.
  for (int i = 0; i < report::kCriterionCount; ++i)
    EXPECT_NE(covered[i], i == report::kRunComplete || i == report::kRunMinHours) << report::CriterionKey(Criterion(i));

  // All of them at once: accepted, with the verdict's count.
  Limits all = Bands();
  for (const Case& k : cases) all.limit[k.c] = k.figure;
  all.limit[report::kRunComplete] = 1;
  const Judgement j = report::Judge(run, all);
  EXPECT_TRUE(j.accepted);
  EXPECT_EQ(j.Passed(), 30);
  EXPECT_EQ(report::VerdictLine(j), "Acceptance: accepted (30 of 30 criteria)");
}

TEST(AcceptanceJudgement, TheRunsLengthToTheSecond) {
  // Thirty minutes of store time after the run began, and a few seconds of
  // start-up and ending around them.
  const report::Run run = ReadRun(ShortStoreRun().Bytes());
  const report::CriterionResult half = JudgeOne(run, report::kRunMinHours, 0.5);
  EXPECT_EQ(half.outcome, Outcome::kPassed);
  EXPECT_GE(half.figureValue, 0.5);
  EXPECT_LT(half.figureValue, 0.52);
  EXPECT_EQ(JudgeOne(run, report::kRunMinHours, half.figureValue).outcome, Outcome::kPassed);
  const report::CriterionResult longer = JudgeOne(run, report::kRunMinHours, half.figureValue + 1 / 3600.0);
  EXPECT_EQ(longer.outcome, Outcome::kFailed);
  // A second short, in hours: the figure and the margin to the limit's
  // digits, never shown as the limit or as no margin at all.
  EXPECT_EQ(longer.margin, "-0.000278 h");
  EXPECT_NE(longer.figure, longer.limit.substr(9)) << longer.limit;
}

TEST(AcceptanceJudgement, FiguresTheFileCannotGiveAreNotJudged) {
  Limits every = Bands();
  for (auto& l : every.limit) l = 0;
  every.limit[report::kRunComplete] = 1;
  // Nothing counted: no histogram, no measured time, no climate line.
  const report::Run empty = ReadRun(WriteFromFigures(nullptr).Bytes());
  ASSERT_TRUE(empty.complete) << empty.incompleteReason;
  Judgement j = report::Judge(empty, every);
  ASSERT_EQ(j.criteria.size(), size_t{report::kCriterionCount});
  EXPECT_FALSE(j.accepted);
  for (const report::CriterionResult& r : j.criteria) {
    SCOPED_TRACE(report::CriterionKey(r.criterion));
    const bool known = r.criterion <= report::kRunMaxCarPosErrors || r.criterion >= report::kLineMaxLosses;
    EXPECT_EQ(r.outcome == Outcome::kNotJudged, !known) << r.why;
    if (!known) {
      EXPECT_TRUE(r.figure.empty());
      EXPECT_TRUE(r.margin.empty());
      EXPECT_FALSE(r.why.empty());
    }
    if (r.criterion >= report::kClimateFirst && r.criterion < report::kLineMaxLosses) {
      EXPECT_EQ(r.why, "no climate reading in the file");
    }
  }
  EXPECT_EQ(report::VerdictLine(j).rfind("Acceptance: NOT accepted: Minimum", 0), std::string::npos);
  EXPECT_NE(report::VerdictLine(j).find("not judged"), std::string::npos) << report::VerdictLine(j);

  // Ready timed, PlateReady not (the console adds 0.0 for it) and a bin the
  // console stopped counting at: the PlateReady times and the percentiles
  // are not known.
  const report::Run noPlate = ReadRun(WriteFromFigures([] {
                                        AccessNumber = LoadCount = 3;
                                        SetTimes(HandlingStats[kGroupAll], 900, 1100, 30, 0, 0, 0);
                                        HandlingStats[kGroupLoad] = HandlingStats[kGroupAll];
                                        TimeHistogram[20][kReadyAll] = TimeHistogram[20][kReadyLoad] = 65535;
                                        TimeHistogram[20][kPlateAll] = TimeHistogram[20][kPlateLoad] = 3;
                                      }).Bytes());
  j = report::Judge(noPlate, every);
  for (const report::CriterionResult& r : j.criteria) {
    SCOPED_TRACE(report::CriterionKey(r.criterion));
    const bool plate = r.criterion >= report::kPlateReadyFirst && r.criterion < report::kClimateFirst;
    const bool p95 = r.criterion >= report::kReadyFirst && r.criterion < report::kClimateFirst &&
                     (r.criterion - report::kReadyFirst) % 3 == report::kTimeP95;
    const bool unloads = r.criterion == report::TimeCriterion(false, report::kUnload, report::kTimeMean) ||
                         r.criterion == report::TimeCriterion(false, report::kUnload, report::kTimeMax);
    if (plate || p95 || unloads) {
      EXPECT_EQ(r.outcome, Outcome::kNotJudged) << r.figure;
    }
    if (r.criterion == report::TimeCriterion(false, report::kLoad, report::kTimeMax)) {
      EXPECT_EQ(r.figure, "11.0 s");
    }
  }
}

TEST(AcceptanceJudgement, ARunCutShortIsNotAccepted) {
  // The figures file up to the summary's header: what a killed console
  // leaves.
  const ConsoleFile& f = FiguresFile();
  std::vector<std::string> lines = f.lines;
  size_t cut = 0;
  while (cut < lines.size() && lines[cut].find("Complete Test Summary") == std::string::npos) ++cut;
  ASSERT_LT(cut, lines.size());
  lines.resize(cut);
  const report::Run run = ReadRun(Join(lines));
  ASSERT_FALSE(run.complete);
  Limits l = Bands();
  l.limit[report::kRunComplete] = 1;
  l.limit[report::kLineMaxLosses] = 5;
  l.limit[report::kLineMaxDownSeconds] = 500;
  l.limit[report::InsideShareCriterion(report::kTemperature)] = 0.5;
  Judgement j = report::Judge(run, l);
  ASSERT_EQ(j.criteria.size(), 4u);
  EXPECT_FALSE(j.accepted);
  EXPECT_EQ(j.criteria[0].outcome, Outcome::kFailed);
  EXPECT_EQ(j.criteria[0].figure, "no");
  EXPECT_EQ(j.criteria[0].why, run.incompleteReason);
  EXPECT_EQ(j.criteria[1].outcome, Outcome::kPassed);  // the climate lines are all there
  EXPECT_EQ(j.criteria[2].outcome, Outcome::kNotJudged);
  EXPECT_EQ(j.criteria[3].outcome, Outcome::kNotJudged);
  EXPECT_EQ(report::VerdictLine(j), "Acceptance: NOT accepted: the run is incomplete: " + run.incompleteReason);

  // Without run.complete asked, a cut run is still not accepted when a
  // line criterion is asked: its note may have gone with the ending.
  l.limit[report::kRunComplete].reset();
  j = report::Judge(run, l);
  EXPECT_FALSE(j.accepted);
  EXPECT_EQ(j.FirstFailure()->criterion, report::kLineMaxLosses);
}

TEST(AcceptanceJudgement, TheVerdictLineNamesTheFirstFailureInAscii) {
  const report::Run run = ReadRun(FiguresFile().Bytes());
  Limits l = Bands();
  l.limit[report::kRunMinAccesses] = 10;
  Judgement j = report::Judge(run, l);
  EXPECT_EQ(report::VerdictLine(j), "Acceptance: accepted (1 of 1 criterion)");
  // The first of two failures, with its figure and its limit; the band's
  // degree sign left out.
  l.limit[report::OutsideMinutesCriterion(report::kTemperature)] = 2;
  l.limit[report::InsideShareCriterion(report::kTemperature)] = 0.55;
  j = report::Judge(run, l);
  EXPECT_EQ(j.Passed(), 1);
  const std::string line = report::VerdictLine(j);
  EXPECT_EQ(line,
            "Acceptance: NOT accepted: Temperature inside 36.5 to 37.5 C, share of the minutes 50.0 % "
            "(limit: at least 55.0 %)");
  EXPECT_TRUE(Ascii(line)) << line;
  // A maximum just above its limit shows the digit that makes it fail.
  l = Bands();
  l.limit[report::TimeCriterion(false, report::kAll, report::kTimeMean)] = 12.25;
  j = report::Judge(run, l);
  EXPECT_EQ(report::VerdictLine(j),
            "Acceptance: NOT accepted: Mean Ready time of all accesses 12.30 s (limit: at most 12.25 s)");
  EXPECT_EQ(j.criteria[0].margin, "-0.05 s");
}
