// The limits reader on any bytes: it never crashes or hangs, a file it
// refuses leaves the limits as they were and says why on a line of the
// file, and a file it takes holds only values of their kind and range.
// What it took then judges an empty run, a complete one and one cut short
// without a crash: one result a criterion asked, in order, with texts a
// console can show.
#include <cmath>
#include <string>
#include <string_view>

#include "fuzz/checks/FuzzChecks.h"
#include "report/Acceptance.h"

namespace {

using report::Limits;
using report::Run;

// No C0 control or DEL: nothing that acts on a terminal.
bool NoControl(std::string_view s) {
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

bool Ascii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return NoControl(s);
}

// A run with every figure the judgement looks at: climate minutes, a
// histogram, a whole summary, a line note.
Run SampleRun(bool complete) {
  Run run;
  run.file = "1234_00.spf";
  for (int i = 0; i < 30; ++i) {
    report::ClimateReading c;
    c.line = 21 + i;
    c.temperature = 36.0 + i % 7 * 0.3, c.humidity = 88 + i % 5, c.co2 = 4.8 + i % 3 * 0.2, c.opt = 21;
    run.climate.push_back(c);
  }
  for (int b = 10; b < 40; ++b) {
    report::HistogramRow r;
    r.line = 60 + b;
    r.bin = b;
    r.ready[0] = static_cast<uint32_t>(b % 4 + 1), r.ready[1] = 1, r.ready[2] = static_cast<uint32_t>(b % 4);
    r.plateReady[0] = static_cast<uint32_t>(b % 3), r.plateReady[1] = static_cast<uint32_t>(b % 3);
    run.histogram.push_back(r);
  }
  report::Summary& s = run.summary;
  s.totalAccesses = 70, s.intervalSeconds = 2, s.carPosErrors = 1;
  s.hasIntervalSeconds = s.hasCarPosErrors = true;
  for (int g = 0; g < 3; ++g) {
    s.minimum[g] = {true, 5.1, 2.2};
    s.maximum[g] = {true, 19.9, 9.8};
    s.mean[g] = {true, 12.4, 5.6};
  }
  s.complete = complete;
  run.complete = complete;
  if (complete) {
    run.lineLosses = 1, run.lineDownSeconds = 12;
  } else {
    run.incompleteReason = "the file ends after line 90, in the handling times";
  }
  return run;
}

void CheckJudgement(const Run& run, const Limits& limits) {
  const report::Judgement j = report::Judge(run, limits);
  FUZZ_CHECK(j.criteria.size() == static_cast<size_t>(limits.Asked()), "a criterion asked and not judged");
  int last = -1;
  for (const report::CriterionResult& r : j.criteria) {
    FUZZ_CHECK(static_cast<int>(r.criterion) > last, "the criteria out of their order");
    last = r.criterion;
    FUZZ_CHECK(limits.limit[r.criterion].has_value(), "a criterion judged that was not asked");
    FUZZ_CHECK(r.limitValue == *limits.limit[r.criterion], "a result with another limit than the file's");
    FUZZ_CHECK(!r.asked.empty() && !r.limit.empty(), "a result without what is asked or its limit");
    FUZZ_CHECK(r.outcome != report::Outcome::kNotJudged || !r.why.empty(), "not judged without saying why");
    FUZZ_CHECK(r.outcome == report::Outcome::kNotJudged || !r.figure.empty(), "judged without a figure");
    for (const std::string* t : {&r.asked, &r.limit, &r.figure, &r.margin})
      FUZZ_CHECK(NoControl(*t), "a control character in a result's text");
  }
  FUZZ_CHECK(j.accepted == (j.Passed() == static_cast<int>(j.criteria.size())), "accepted with a criterion not passed");
  FUZZ_CHECK(Ascii(report::VerdictLine(j)), "the verdict line is not plain ASCII");
}

}  // namespace

void CheckLimits(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Limits limits;
  limits.customer = "before";
  report::Problem error;
  if (!report::ReadLimits(text, "limits.toml", limits, error)) {
    size_t lines = 1;
    for (char c : text) lines += c == '\n';
    FUZZ_CHECK(!error.text.empty(), "a file refused without a reason");
    FUZZ_CHECK(error.line >= 0 && static_cast<size_t>(error.line) <= lines, "the reason names a line beyond the file");
    FUZZ_CHECK(NoControl(error.text), "a control character in the reason");
    FUZZ_CHECK(limits.customer == "before" && limits.Asked() == 0, "a refused file changed the limits");
    return;
  }
  for (const auto& l : limits.limit) FUZZ_CHECK(!l || (std::isfinite(*l) && *l >= 0), "a limit negative or not finite");
  for (int v = 0; v < 3; ++v) {
    const report::ClimateBand& b = limits.band[v];
    FUZZ_CHECK(!b.given || (std::isfinite(b.low) && std::isfinite(b.high) && b.low <= b.high), "a band reversed");
    const bool asked = limits.limit[report::InsideShareCriterion(report::ClimateValue(v))] ||
                       limits.limit[report::OutsideMinutesCriterion(report::ClimateValue(v))];
    FUZZ_CHECK(asked == b.given, "a band without a criterion, or a criterion without its band");
  }
  for (const std::string* t : {&limits.customer, &limits.site, &limits.model, &limits.order})
    FUZZ_CHECK(t->size() <= 200 && NoControl(*t), "a store text too long or with a control character");
  CheckJudgement(Run{}, limits);
  CheckJudgement(SampleRun(true), limits);
  CheckJudgement(SampleRun(false), limits);
}
