// The report page: what a technician reads after an overnight run or to
// compare a store with last month. The verdict comes first (complete? errors?
// anything not counted or not readable?), then the run's facts, its summary
// as tables and its charts. With several runs a comparison table and a trend
// of the access times open the page. Judged by a service company's limits, each
// run's section opens with the store's and the run's facts, the verdict and
// one row a criterion, and the page prints as the protocol to sign.
//
// Everything is in the one file: styles in the head, charts as inline SVG,
// no script, no reference to anything outside the page, so it opens from a
// USB stick on a PC without a network. Every text that comes from a result
// file or a file name goes through Html().
#include "report/Page.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "report/Figures.h"
#include "report/PageParts.h"

namespace report {

using namespace page;

namespace {

constexpr const char* kDash = "\xE2\x80\x93";  // en dash: no figure
// Problems listed one by one; a file with more is broken throughout and the
// first ones tell why.
constexpr size_t kProblemsListed = 20;

constexpr const char* kStyle = R"(
:root{--ok:#2e7d32;--bad:#c62828;--warn:#a85d00;--accent:#1f5fa8}
*{box-sizing:border-box}
body{margin:0;font:15px/1.45 system-ui,-apple-system,"Segoe UI",Roboto,"Helvetica Neue",Arial,sans-serif;
color:#1d1d1d;background:#fff}
main{max-width:1080px;margin:0 auto;padding:12px 18px}
h1{font-size:1.6em;margin:.3em 0 .1em}
h2{font-size:1.3em;margin:1.8em 0 .5em;padding-top:.5em;border-top:3px solid var(--accent)}
h3{font-size:1.05em;margin:1.4em 0 .3em}
.sub{color:#555;margin:0 0 .8em}
.verdict{border-left:6px solid;border-radius:4px;padding:.45em .9em;margin:.6em 0 1em}
.verdict.ok{border-color:var(--ok);background:#ebf5ec}
.verdict.warn{border-color:var(--warn);background:#fff3df}
.verdict.bad{border-color:var(--bad);background:#fdeceb}
.verdict ul{margin:0;padding:0;list-style:none}
.verdict li{margin:.2em 0}
.verdict ol{margin:.2em 0 .2em 1.2em;padding:0;font-size:.92em}
.badge{display:inline-block;min-width:5.5em;margin-right:.5em;padding:0 .45em;border-radius:3px;color:#fff;
font-weight:600;font-size:.9em;text-align:center}
.badge.ok{background:var(--ok)}.badge.warn{background:var(--warn)}.badge.bad{background:var(--bad)}
.badge.info{background:#5a6b7d}
dl.facts{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(180px,40%),1fr));gap:.4em 1.4em;
margin:.4em 0 1em}
dl.facts dt{color:#555;font-size:.85em}
dl.facts dd{margin:0;font-weight:600;overflow-wrap:anywhere}
.cols{display:grid;grid-template-columns:repeat(auto-fit,minmax(320px,1fr));gap:0 2.5em;align-items:start}
.scroll{overflow-x:auto}
table{border-collapse:collapse;font-variant-numeric:tabular-nums;margin:.3em 0}
th,td{padding:.22em .6em;border-bottom:1px solid #e2e2e2;text-align:left;vertical-align:top}
thead th{border-bottom:2px solid #8a8a8a;font-size:.88em;color:#333;white-space:nowrap}
th.n,td.n{text-align:right}
tbody th{font-weight:600}
td.ok{color:var(--ok)}td.bad{color:var(--bad);font-weight:600}td.warn{color:var(--warn)}
table.cmp{font-size:.93em}table.cmp td{white-space:nowrap}table.cmp th,table.cmp td{padding:.22em .45em}
table.cmp thead th{white-space:normal;vertical-align:bottom}
table.cmp tbody tr:nth-child(even){background:#f6f8fb}
figure{margin:.6em 0 1.2em}
figcaption{color:#555;font-size:.88em;margin-top:.2em}
.nodata{color:#555;font-style:italic}
svg.chart{display:block;width:100%;height:auto;font:12px system-ui,-apple-system,"Segoe UI",Arial,sans-serif;fill:#333}
svg .grid{stroke:#e4e4e4;fill:none}
svg .axis{stroke:#777;fill:none}
svg .line{fill:none;stroke-width:1.6;stroke-linejoin:round;stroke-linecap:round}
svg .note{fill:#555}
svg .ptitle{font-weight:600}
a{color:var(--accent)}
footer{color:#777;font-size:.85em;margin:2.5em 0 1em;padding-top:.5em;border-top:1px solid #ddd}
@media (max-width:600px){body{font-size:14px}main{padding:8px}th,td{padding:.2em .35em}svg.chart{font-size:18px}}
@media print{body{font-size:10pt}main{max-width:none;padding:0}
section+section{break-before:page}h2{border-top-width:2px}
figure,table,.verdict,dl.facts{break-inside:avoid}a{color:inherit;text-decoration:none}
*{-webkit-print-color-adjust:exact;print-color-adjust:exact}}
)";

// Only on a judged page, after kStyle: the verdict, the criteria and the
// protocol as it prints. What only paper needs (the block to sign) is not
// shown on a screen at all, and the rest of the print layout is inside
// @page and @media print, so a screen shows the page as it is.
constexpr const char* kAcceptanceStyle = R"(
.accept{border:4px solid;border-radius:6px;padding:.5em 1em;margin:.8em 0 .6em;display:flex;flex-wrap:wrap;
align-items:baseline;gap:.2em 1.2em}
.accept.ok{border-color:var(--ok);background:#ebf5ec}
.accept.bad{border-color:var(--bad);border-style:double;border-width:7px;background:#fdeceb}
.accept .word{font-size:2em;font-weight:800;letter-spacing:.04em}
.accept.ok .word{color:var(--ok)}.accept.bad .word{color:var(--bad)}
.accept .count{font-size:1.1em;font-weight:600}
table.crit{width:100%}
table.crit td:nth-child(n+2){white-space:nowrap}table.crit td.res{font-weight:600}
table.crit td.res.bad{text-decoration:underline}
table.crit td.res.nj{color:var(--warn);font-style:italic}
table.crit .why{font-style:italic;color:#555;font-size:.9em}
@media (max-width:600px){table.crit{font-size:.9em}table.crit td:nth-child(2){white-space:normal}
.accept .word{font-size:1.5em}}
.print-only{display:none}
.sign{margin-top:2em}
.sign .lines{display:grid;grid-template-columns:1fr 1fr;gap:2.2em 3em;margin-top:1.5em}
.sign .line{border-bottom:1px solid #000;height:2.6em}
.sign .label{font-size:.9em;color:#333;margin-top:.2em}
@page{size:A4 portrait;margin:12mm 14mm 14mm}
@media print{.print-only{display:block}.details{break-before:page}h2,h3{break-after:avoid}
thead{display:table-header-group}tr,.accept,.sign{break-inside:avoid}footer{break-before:avoid}
table.crit{break-inside:auto}
header h1{margin-top:0}.sub{margin-bottom:.4em}
table.crit{font-size:8.5pt;line-height:1.25}table.crit th,table.crit td{padding:.1em .4em}
.accept{margin:.4em 0}.accept .word{font-size:1.6em}dl.facts{margin:.2em 0 .4em;gap:.15em 1.2em}
.verdict{margin:.4em 0;font-size:.9em}
.cols{grid-template-columns:1.25fr 1fr;gap:0 1.5em}.cols table{font-size:9pt}.scroll{overflow:visible}
table.cmp{font-size:8pt}table.cmp td:last-child{white-space:normal;overflow-wrap:break-word}}
)";

std::string Plural(int64_t n, const char* one, const char* many) { return Integer(n) + " " + (n == 1 ? one : many); }

std::string TimeCell(bool measured, double v) {
  if (!measured) return std::string("<td class=\"n\" title=\"no measured time\">") + kDash + "</td>";
  return "<td class=\"n\">" + Fixed(v, 1) + "</td>";
}

std::string CountCell(int64_t v) { return "<td class=\"n\">" + (v >= 0 ? Integer(v) : kDash) + "</td>"; }

std::string FileTextOrDash(std::string_view cp437) { return cp437.empty() ? std::string(kDash) : HtmlFromFile(cp437); }

std::string StampText(const Stamp& s) { return s.valid ? s.Date() + " " + s.Time() : std::string(); }

std::string SerialText(const Run& run) { return run.Serial() >= 0 ? Integer(run.Serial()) : std::string(kDash); }

// Whether the file got as far as any of the summary.
bool HasSummary(const Summary& s) {
  if (s.complete || !s.access.empty() || !s.procedure.empty() || s.totalAccesses >= 0 || s.intervalSeconds >= 0 ||
      s.carPosErrors >= 0)
    return true;
  for (int g = 0; g < 3; ++g)
    if (s.minimum[g].present || s.maximum[g].present || s.mean[g].present) return true;
  return false;
}

// The run's length as the page shows it: from first to last header, or, for
// a run cut short, at least as long as its climate lines go.
std::string LengthText(int64_t seconds, int64_t climateLines, bool brief) {
  if (seconds >= 0) return Duration(seconds);
  if (climateLines <= 0) return kDash;
  const std::string d = Duration(climateLines * 60);
  return brief ? "\xE2\x89\xA5 " + d : "at least " + d + " (climate lines)";
}
std::string LengthText(const Run& run) {
  return LengthText(RunSeconds(run), static_cast<int64_t>(run.climate.size()), false);
}

// How far apart the climate lines are, as the chart places them.
std::string IntervalText(const Run& run) {
  const long seconds = std::lround(ClimateInterval(run));
  if (seconds == 60) return "one a minute";
  return "about one every " + std::to_string(seconds) + " s over the run";
}

// --- the verdict ---------------------------------------------------------------------

// "once", "2 times".
std::string Times(int64_t n) { return n == 1 ? std::string("once") : Integer(n) + " times"; }

void Verdict(std::string& out, const Run& run) {
  const int64_t errors = run.summary.carPosErrors;
  const int64_t uncounted = run.UncountedAccesses();
  out += std::string("<div class=\"verdict ") + Standing(FiguresOf(run)) + "\"><ul>";
  if (run.complete) {
    out += "<li><span class=\"badge ok\">Complete</span>The run ended with its test summary";
    out += errors == 0 ? " and no carousel position errors.</li>" : ".</li>";
  } else {
    // The reason is a clause ("the file ends after line 40, ..."); after the
    // badge it starts a sentence.
    std::string reason = run.incompleteReason.empty() ? std::string("the file ends early") : run.incompleteReason;
    if (reason[0] >= 'a' && reason[0] <= 'z') reason[0] = static_cast<char>(reason[0] - 'a' + 'A');
    out += "<li><span class=\"badge bad\">Incomplete</span>" + Html(reason);
    out += HasSummary(run.summary) ? ". The summary is cut short." : ". The file holds no test summary.";
    out += "</li>";
  }
  if (errors > 0)
    out += "<li><span class=\"badge bad\">Errors</span>" +
           Plural(errors, "carousel position error", "carousel position errors") + ".</li>";
  if (run.lineLosses > 0)
    out += "<li><span class=\"badge warn\">Line lost</span>The line to the store was lost " +
           Times(run.lineLosses) +
           " during the run, down " + Integer(run.lineDownSeconds) +
           " s in all (the console's note beside the result file). The test went on each time the line was "
           "back; an access the loss fell into shows its time.</li>";
  if (uncounted > 0)
    out += std::string("<li><span class=\"badge ") + (uncounted > 1 ? "warn" : "info") +
           "\">Not counted</span>At least " + Plural(uncounted, "access is", "accesses are") +
           " in the histogram but not in the total: a Ready time outside 0.1 s to 100 s, or the access cut short "
           "when the run was stopped.</li>";
  if (!run.problems.empty()) {
    const bool allLines =
        std::all_of(run.problems.begin(), run.problems.end(), [](const Problem& p) { return p.line > 0; });
    const int64_t n = static_cast<int64_t>(run.problems.size());
    out += "<li><span class=\"badge warn\">Damaged</span>" +
           (allLines ? Plural(n, "line", "lines") : Plural(n, "problem", "problems")) +
           " in the file, left out of the figures:<ol>";
    for (size_t i = 0; i < run.problems.size() && i < kProblemsListed; ++i) {
      const Problem& p = run.problems[i];
      out += "<li>";
      if (p.line > 0) out += "line " + Integer(p.line) + ": ";
      out += Html(p.text) + "</li>";
    }
    out += "</ol>";
    if (run.problems.size() > kProblemsListed)
      out += "and " + Integer(static_cast<int64_t>(run.problems.size() - kProblemsListed)) + " more.";
    out += "</li>";
  }
  out += "</ul></div>";
}

// --- one run ---------------------------------------------------------------------------

void Facts(std::string& out, const Run& run, const Limits* limits = nullptr) {
  const auto fact = [&](const char* name, const std::string& escaped) {
    out += "<div><dt>";
    out += name;
    out += "</dt><dd>" + (escaped.empty() ? std::string(kDash) : escaped) + "</dd></div>";
  };
  out += "<dl class=\"facts\">";
  // A protocol names whose store it is and the order it was done for
  // before anything of the run.
  if (limits) {
    fact("Customer", Html(limits->customer));
    fact("Site", Html(limits->site));
    fact("Model", Html(limits->model));
    fact("Order", Html(limits->order));
  }
  fact("Serial number", SerialText(run));
  fact("Firmware", HtmlFromFile(run.Firmware()));
  fact("Operator", HtmlFromFile(run.OperatorName()));
  fact("Start", Html(StampText(run.Start())));
  fact("End", Html(StampText(run.End())));
  fact("Length", LengthText(run));
  fact("Total accesses", run.summary.totalAccesses >= 0 ? Integer(run.summary.totalAccesses) : "");
  double mean = 0, max = 0;
  const bool hasMean = ReadyTime(run.summary, kMean, kAll, mean), hasMax = ReadyTime(run.summary, kMax, kAll, max);
  fact("Access time, mean / max.", hasMean || hasMax ? (hasMean ? Fixed(mean, 1) : kDash) + std::string(" / ") +
                                                           (hasMax ? Fixed(max, 1) : kDash) + " s"
                                                     : "");
  fact("File", Html(run.file));
  if (limits) fact("Limits", Html(limits->file));
  out += "</dl>";
}

void SummaryTables(std::string& out, const Run& run) {
  const Summary& s = run.summary;
  out += "<h3>Test summary</h3>";
  if (!HasSummary(s)) {
    out += "<p class=\"nodata\">No test summary: the file ends before it.</p>";
    return;
  }
  out +=
      "<div class=\"cols\"><div class=\"scroll\"><table><thead><tr><th rowspan=\"2\">Times [s]</th>"
      "<th class=\"n\" colspan=\"3\">Ready</th><th class=\"n\" colspan=\"3\">PlateReady</th></tr><tr>"
      "<th class=\"n\">Min.</th><th class=\"n\">Max.</th><th class=\"n\">Mean</th>"
      "<th class=\"n\">Min.</th><th class=\"n\">Max.</th><th class=\"n\">Mean</th></tr></thead><tbody>";
  static const char* const kGroups[3] = {"Access (all)", "Load", "Unload"};
  bool dash = false;
  for (int g = 0; g < 3; ++g) {
    out += std::string("<tr><th>") + kGroups[g] + "</th>";
    for (int plate = 0; plate < 2; ++plate) {
      for (Stat st : {kMin, kMax, kMean}) {
        double v = 0;
        const bool ok = plate ? PlateReadyTime(s, st, Group(g), v) : ReadyTime(s, st, Group(g), v);
        dash = dash || !ok;
        out += TimeCell(ok, v);
      }
    }
    out += "</tr>";
  }
  out += "</tbody></table>";
  if (dash)
    out += std::string("<p class=\"sub\">") + kDash +
           " no measured time: the group counted no access (the file then shows reset values or sums), or "
           "the line is missing.</p>";

  out += "</div><div class=\"scroll\"><table><tbody>";
  // Counts and texts share the value column: all to the left, next to
  // their names.
  const auto row = [&](const char* name, const std::string& escaped, bool bad = false) {
    out += "<tr><th>";
    out += name;
    out += bad ? "</th><td class=\"bad\">" : "</th><td>";
    out += escaped + "</td></tr>";
  };
  const auto count = [](int64_t v) { return v >= 0 ? Integer(v) : std::string(kDash); };
  row("Total accesses", count(s.totalAccesses));
  row("Access interval [s]", count(s.intervalSeconds));
  row("Carousel position errors", count(s.carPosErrors), s.carPosErrors > 0);
  row("Access", FileTextOrDash(s.access));
  row("Cassettes", FileTextOrDash(s.cassettes));
  row("PlateTrace", FileTextOrDash(s.plateTrace));
  row("Addressing", FileTextOrDash(s.addressing));
  row("Cassette levels", FileTextOrDash(s.cassetteLevels));
  row("Access procedure", FileTextOrDash(s.procedure));
  out += "</tbody></table></div></div>";
}

void Charts(std::string& out, const Run& run) {
  out += "<h3>Handling times</h3>";
  const std::string histogram = HistogramChart(run);
  if (histogram.empty()) {
    out +=
        "<p class=\"nodata\">No histogram in the file: the run ended before it was written, or made no "
        "access.</p>";
  } else {
    out += "<figure>" + histogram +
           "<figcaption>Accesses by the time from the access command to PlateReady and to Ready, in half-second "
           "bins (all accesses, loads and unloads together).</figcaption></figure>";
  }
  out += "<h3>Climate</h3>";
  const std::string climate = ClimateChart(run);
  if (climate.empty()) {
    out +=
        "<p class=\"nodata\">No climate readings in the file: one is written a minute while the run goes "
        "on.</p>";
  } else {
    out += "<figure>" + climate + "<figcaption>" +
           Plural(static_cast<int64_t>(run.climate.size()), "reading", "readings") + ", " + IntervalText(run) +
           ".</figcaption></figure>";
  }
}

std::string RunHeading(const Run& run) {
  std::string h = "SNr. " + SerialText(run);
  const Stamp s = run.Start();
  if (s.valid) h += ", " + Html(StampText(s));
  return h;
}

// --- the acceptance ---------------------------------------------------------------------

const char* OutcomeClass(Outcome o) { return o == Outcome::kPassed ? "ok" : o == Outcome::kFailed ? "bad" : "nj"; }
const char* OutcomeText(Outcome o) {
  return o == Outcome::kPassed ? "passed" : o == Outcome::kFailed ? "failed" : "not judged";
}

// The verdict in a word big enough to read across a room and on a black and
// white copy (the word and the border's kind say it without the colour), how
// many criteria passed, and one row a criterion.
void Acceptance(std::string& out, const Judgement& j) {
  const int asked = static_cast<int>(j.criteria.size());
  out += std::string("<div class=\"accept ") + (j.accepted ? "ok" : "bad") + "\"><span class=\"word\">" +
         (j.accepted ? "ACCEPTED" : "NOT ACCEPTED") + "</span><span class=\"count\">" + Integer(j.Passed()) + " of " +
         Plural(asked, "criterion", "criteria") + " passed</span></div>";
  if (asked == 0) {
    out += "<p class=\"nodata\">The limits file asks for no criterion.</p>";
    return;
  }
  out +=
      "<div class=\"scroll\"><table class=\"crit\"><thead><tr><th>Criterion</th><th>Limit</th><th class=\"n\">"
      "Measured</th><th class=\"n\">Margin</th><th>Result</th></tr></thead><tbody>";
  for (const CriterionResult& c : j.criteria) {
    const char* cls = OutcomeClass(c.outcome);
    // Why a figure is missing or a run is incomplete goes under what is
    // asked, the widest column, so that the row stays two lines at most.
    out += "<tr><td>" + Html(c.asked);
    if (!c.why.empty()) out += "<div class=\"why\">" + Html(c.why) + "</div>";
    out += "</td><td>" + Html(c.limit) + "</td><td class=\"n\">" +
           (c.figure.empty() ? std::string(kDash) : Html(c.figure)) + "</td><td class=\"n\">" +
           (c.margin.empty() ? std::string(kDash) : Html(c.margin)) + "</td>";
    out += std::string("<td class=\"res ") + cls + "\">" + OutcomeText(c.outcome) + "</td></tr>";
  }
  out += "</tbody></table></div>";
}

// Lines to write on, on paper only: who tested, who took the store back,
// when and where.
void SignatureBlock(std::string& out) {
  out += "<div class=\"sign print-only\"><h3>Signatures</h3><div class=\"lines\">";
  for (const char* label : {"Technician (name, signature)", "Customer (name, signature)", "Date", "Place"})
    out += std::string("<div><div class=\"line\"></div><div class=\"label\">") + label + "</div></div>";
  out += "</div></div>";
}

void RunSection(std::string& out, const Run& run, size_t number, bool several, const Limits* limits,
                const Judgement* judgement) {
  out += "<section id=\"run-" + Integer(static_cast<int64_t>(number)) + "\">";
  if (several) out += "<h2>Run " + Integer(static_cast<int64_t>(number)) + ": " + RunHeading(run) + "</h2>";
  if (!judgement) {
    Verdict(out, run);
    Facts(out, run);
    SummaryTables(out, run);
    Charts(out, run);
    out += "</section>";
    return;
  }
  // The protocol's first sheet: whose store, which run, the verdict and the
  // criteria. The run's own marks, figures and charts follow on the next.
  Facts(out, run, limits);
  Acceptance(out, *judgement);
  out += "<div class=\"details\">";
  Verdict(out, run);
  SummaryTables(out, run);
  Charts(out, run);
  out += "</div></section>";
}

// --- several runs -------------------------------------------------------------------------

void Comparison(std::string& out, const std::vector<Run>& runs, const std::vector<Judgement>& judgements) {
  const std::vector<size_t> order = ComparisonOrder(runs);
  std::vector<ComparisonRow> rows;
  std::vector<TrendPoint> points;
  for (size_t i : order) {
    ComparisonRow row;
    row.figures = FiguresOf(runs[i]);
    row.label = Integer(static_cast<int64_t>(i + 1));
    row.link = "#run-" + row.label;
    if (!judgements.empty()) row.acceptance = judgements[i].accepted ? 1 : 0;
    points.push_back(TrendPoint{row.figures.start, row.figures.mean, row.figures.max});
    rows.push_back(std::move(row));
  }
  out += "<section id=\"comparison\"><h2>Comparison of " + Integer(static_cast<int64_t>(runs.size())) + " runs</h2>";
  out += ComparisonTable(rows, !judgements.empty());
  out += "<h3>Access times run by run</h3>";
  const std::string trend = TrendChart(points);
  if (trend.empty()) {
    out += "<p class=\"nodata\">No run has a measured access time.</p>";
  } else {
    out += "<figure>" + trend +
           "<figcaption>Mean and maximum Ready time of all accesses, one point a run, in the order the runs "
           "started; a run without a measured time leaves a gap.</figcaption></figure>";
  }
  out += "</section>";
}

// The serial numbers of the runs: "SNr. 1234", "SNr. 1234, 2001", or how
// many stores there are when that is more than a few.
std::string Stores(const std::vector<Run>& runs) {
  std::vector<int64_t> serials;
  for (const Run& r : runs)
    if (std::find(serials.begin(), serials.end(), r.Serial()) == serials.end()) serials.push_back(r.Serial());
  if (serials.size() > 4) return Integer(static_cast<int64_t>(serials.size())) + " stores";
  std::string s = "SNr. ";
  for (size_t i = 0; i < serials.size(); ++i)
    s += (i ? ", " : "") + (serials[i] >= 0 ? Integer(serials[i]) : std::string(kDash));
  return s;
}

// The page's heading and the line under it.
void Heading(const std::vector<Run>& runs, std::string& title, std::string& h1, std::string& sub) {
  const std::string sep = " \xC2\xB7 ";
  if (runs.size() == 1) {
    const Run& run = runs[0];
    h1 = "Random-access test, " + Stores(runs);
    title = h1;
    const Stamp start = run.Start(), end = run.End();
    if (start.valid) {
      title += ", " + StampText(start);
      sub = StampText(start) + (end.valid ? " to " + StampText(end) : "");
    }
    const std::string length = LengthText(run);
    if (length != kDash) sub += (sub.empty() ? "" : sep) + length;
    sub += (sub.empty() ? "" : sep) + Html(run.file);
    return;
  }
  h1 = title = "Random-access tests: " + Integer(static_cast<int64_t>(runs.size())) + " runs";
  sub = Stores(runs);
  Stamp first, last;
  for (const Run& r : runs) {
    const Stamp st = r.Start();
    if (!st.valid) continue;
    if (!first.valid || st.Seconds() < first.Seconds()) first = st;
    if (!last.valid || st.Seconds() > last.Seconds()) last = st;
  }
  if (first.valid) sub += sep + "started " + first.Date() + " to " + last.Date();
}

}  // namespace

std::string page::ComparisonTable(const std::vector<ComparisonRow>& rows, bool acceptance) {
  // A column that is the same in every row says nothing: the page's heading
  // names the store, and one operator is named in each run's section.
  bool serials = false, operators = false;
  for (const ComparisonRow& r : rows) {
    serials = serials || r.figures.serial != rows.front().figures.serial;
    operators = operators || r.figures.operatorName != rows.front().figures.operatorName;
  }
  std::string out = "<div class=\"scroll\"><table class=\"cmp\"><thead><tr><th class=\"n\">Run</th><th>Start</th>";
  if (serials) out += "<th class=\"n\">SNr.</th>";
  if (operators) out += "<th>Operator</th>";
  out += "<th>Length</th>";
  if (acceptance) out += "<th>Acceptance</th>";
  out +=
      "<th>Verdict</th><th class=\"n\">Accesses</th><th class=\"n\">Car. pos. errors</th>"
      "<th class=\"n\">Mean access [s]</th><th class=\"n\">Max. access [s]</th><th class=\"n\">Mean load [s]</th>"
      "<th class=\"n\">Mean unload [s]</th><th>File</th></tr></thead><tbody>";
  for (const ComparisonRow& row : rows) {
    const RunFigures& f = row.figures;
    out += "<tr><td class=\"n\">";
    out += row.link.empty() ? Html(row.label) : "<a href=\"" + Html(row.link) + "\">" + Html(row.label) + "</a>";
    out += "</td><td>" + (f.start.valid ? Html(f.start.Date() + " " + f.start.Time().substr(0, 5)) : std::string(kDash)) +
           "</td>";
    if (serials) out += "<td class=\"n\">" + (f.serial >= 0 ? Integer(f.serial) : std::string(kDash)) + "</td>";
    if (operators) out += "<td>" + FileTextOrDash(f.operatorName) + "</td>";
    out += "<td>" + LengthText(f.seconds, f.climateLines, true) + "</td>";
    if (acceptance)
      out += row.acceptance == 1   ? "<td class=\"ok\">accepted</td>"
             : row.acceptance == 0 ? "<td class=\"bad\">NOT accepted</td>"
                                   : std::string("<td>") + kDash + "</td>";
    out += std::string("<td class=\"") + Standing(f) + "\">" + Html(Marks(f)) + "</td>";
    out += CountCell(f.totalAccesses);
    out += f.carPosErrors > 0 ? "<td class=\"n bad\">" + Integer(f.carPosErrors) + "</td>" : CountCell(f.carPosErrors);
    for (double v : {f.mean, f.max, f.loadMean, f.unloadMean}) out += TimeCell(v >= 0, v);
    out += "<td>" + Html(f.file) + "</td></tr>";
  }
  out += "</tbody></table></div>";
  return out;
}

std::string page::PageStyle() { return kStyle; }

std::string WritePage(const std::vector<Run>& runs, std::string_view generator, const Limits* limits) {
  // Each run is judged once; the comparison and its section show that one
  // judgement.
  std::vector<Judgement> judgements;
  if (limits)
    for (const Run& run : runs) judgements.push_back(Judge(run, *limits));
  std::string out;
  out.reserve(4096 + runs.size() * 16384);
  std::string title, h1, sub;
  Heading(runs, title, h1, sub);
  if (limits) {
    h1 = "Acceptance protocol \xC2\xB7 " + h1;
    title = "Acceptance protocol \xC2\xB7 " + title;
  }
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>";
  out += title;
  out += "</title><style>";
  out += kStyle;
  if (limits) out += kAcceptanceStyle;
  out += "</style></head>\n<body><main><header><h1>" + h1 + "</h1><p class=\"sub\">" + sub + "</p></header>\n";
  const bool several = runs.size() > 1;
  if (several) {
    Comparison(out, runs, judgements);
    out += '\n';
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    RunSection(out, runs[i], i + 1, several, limits, limits ? &judgements[i] : nullptr);
    out += '\n';
  }
  if (runs.empty()) out += "<p class=\"nodata\">No result file was read.</p>";
  if (limits && !runs.empty()) SignatureBlock(out);
  out += "<footer>Made by " + Html(generator) + " from " +
         Plural(static_cast<int64_t>(runs.size()), "result file", "result files") +
         " of the random-access test. Times are in seconds as the files give them, to a tenth.</footer>"
         "</main></body></html>\n";
  return out;
}

}  // namespace report
