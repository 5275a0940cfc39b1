// The archive's page: which stores of the fleet need a look (those getting
// slower come first), then each store's history: its drift against its own
// baseline, its trend with the service events on it, and its runs. Made of
// the report page's parts and style, so a run shows the same marks and
// times here as on its own report.
#include "archive/FleetPage.h"

#include <algorithm>
#include <string>
#include <vector>

#include "report/Figures.h"
#include "report/PageParts.h"

namespace archive {

using namespace report::page;

namespace {

constexpr const char* kDash = "\xE2\x80\x93";
constexpr const char* kSep = " \xC2\xB7 ";

// After the report's style sheet: the fleet's table, its sparklines and the
// drift's figures, which may wrap where the rest of a row may not.
constexpr const char* kFleetStyle = R"(
svg.spark{display:block}
table.fleet td.drift,table.fleet td.acc{white-space:normal;min-width:12em}
table.fleet .fig{color:#555;font-size:.88em;font-weight:400}
table.events td:nth-child(2){white-space:nowrap}table.events td:last-child{overflow-wrap:anywhere}
.verdict .fig{color:#333}
table.fleet .dmark{display:block;color:var(--bad);font-weight:700;font-size:.78em}
)";

std::string Plural(int64_t n, const char* one, const char* many) { return Integer(n) + " " + (n == 1 ? one : many); }

std::string SerialText(int64_t serial) { return serial >= 0 ? Integer(serial) : std::string(kDash); }
std::string Anchor(int64_t serial) { return serial >= 0 ? "store-" + Integer(serial) : std::string("store-unknown"); }

std::string DateOr(const report::Stamp& s) { return s.valid ? s.Date() : std::string(kDash); }
std::string TimeOr(double v) { return v >= 0 ? Fixed(v, 1) : std::string(kDash); }

// The drift's figures, or its reason when there was nothing to compare.
std::string DriftWords(const Drift& d) {
  std::string f = d.Figures();
  if (!f.empty()) return f;
  switch (d.state) {
    case Drift::kNoRun: return "no complete run";
    case Drift::kNoBaseline: return "no baseline";
    default: return {};
  }
}

std::vector<TrendPoint> Points(const StoreHistory& s) {
  std::vector<TrendPoint> points;
  points.reserve(s.runs.size());
  for (const StoredRun& r : s.runs) points.push_back({r.figures.start, r.figures.mean, r.figures.max});
  return points;
}

// A run's number in its store (1 its first run), 0 when not one of them.
size_t RunNumber(const StoreHistory& s, int64_t id) {
  for (size_t i = 0; i < s.runs.size(); ++i)
    if (s.runs[i].id == id) return i + 1;
  return 0;
}

std::string EventDate(const Event& e) {
  if (!e.when.valid) return kDash;
  return e.dayOnly ? e.when.Date() : e.when.Date() + " " + e.when.Time().substr(0, 5);
}

void FleetTable(std::string& out, const std::vector<const StoreHistory*>& order, bool limits) {
  out +=
      "<section id=\"fleet\"><h2>The fleet</h2><div class=\"scroll\"><table class=\"cmp fleet\"><thead><tr>"
      "<th class=\"n\">SNr.</th><th class=\"n\">Runs</th><th>First run</th><th>Last run</th>"
      "<th class=\"n\">Mean access [s]</th><th class=\"n\">Max. access [s]</th><th>Verdict</th>";
  if (limits) out += "<th>Acceptance</th>";
  out += "<th>Mean access, run by run</th><th>Drift</th></tr></thead><tbody>";
  for (const StoreHistory* s : order) {
    // A drifting store says so beside its number too: on a phone's width
    // the drift column is scrolled out of sight.
    out += "<tr><td class=\"n\"><a href=\"#" + Anchor(s->serial) + "\">" + SerialText(s->serial) + "</a>" +
           (s->drift.Flagged() ? "<span class=\"dmark\">DRIFT</span>" : "") + "</td>";
    out += "<td class=\"n\">" + Integer(static_cast<int64_t>(s->runs.size())) + "</td>";
    if (s->runs.empty()) {
      out += std::string("<td>") + kDash + "</td><td>" + kDash + "</td><td class=\"n\">" + kDash +
             "</td><td class=\"n\">" + kDash + "</td><td>" + kDash + "</td>";
    } else {
      const report::RunFigures& last = s->runs.back().figures;
      out += "<td>" + Html(DateOr(s->runs.front().figures.start)) + "</td><td>" + Html(DateOr(last.start)) + "</td>";
      out += "<td class=\"n\">" + TimeOr(last.mean) + "</td><td class=\"n\">" + TimeOr(last.max) + "</td>";
      out += std::string("<td class=\"") + report::Standing(last) + "\">" + Html(report::Marks(last)) + "</td>";
    }
    if (limits) {
      if (s->lastAccepted < 0)
        out += std::string("<td title=\"not judged\">") + kDash + "</td>";
      else
        out += std::string("<td class=\"acc ") + (s->lastAccepted == 1 ? "ok" : "bad") + "\">" + Html(s->lastVerdict) +
               "</td>";
    }
    const std::string spark = Sparkline(Points(*s));
    out += "<td>" + (spark.empty() ? std::string(kDash) : spark) + "</td>";
    const std::string words = Html(DriftWords(s->drift));
    if (s->drift.Flagged())
      out += "<td class=\"drift bad\">DRIFT <span class=\"fig\">" + words + "</span></td>";
    else if (s->drift.state == Drift::kSteady)
      out += "<td class=\"drift\" title=\"" + words + "\">steady</td>";
    else
      out += std::string("<td class=\"drift\">") + kDash + " <span class=\"fig\">" + words + "</span></td>";
    out += "</tr>";
  }
  out += "</tbody></table></div>";
  out +=
      "<p class=\"sub\">Stores drifting first, then by serial number. The figures are those of each store's last "
      "run; a store drifts when its newest complete run is both slower than its baseline (the runs before it since "
      "the last service on its mechanics) and its handling times are distributed otherwise. A firmware update or a "
      "remark does not start a new baseline. Each store's trend shows the mean and maximum Ready time of all "
      "accesses.</p></section>\n";
}

void DriftLine(std::string& out, const StoreHistory& s) {
  const Drift& d = s.drift;
  const std::string words = Html(DriftWords(d));
  std::string against;
  if (d.state == Drift::kDrifting || d.state == Drift::kSteady) {
    const size_t newest = RunNumber(s, d.newestId);
    std::vector<size_t> base;
    for (int64_t id : d.baselineIds)
      if (size_t k = RunNumber(s, id)) base.push_back(k);
    if (newest > 0 && !base.empty()) {
      against = " Run " + Integer(static_cast<int64_t>(newest)) + " against " +
                (base.size() == 1 ? "run " + Integer(static_cast<int64_t>(base.front()))
                                  : "runs " + Integer(static_cast<int64_t>(base.front())) + " to " +
                                        Integer(static_cast<int64_t>(base.back()))) +
                ".";
    }
  }
  if (d.Flagged())
    out += "<div class=\"verdict bad\"><span class=\"badge bad\">DRIFT</span>Getting slower: <span class=\"fig\">" +
           words + "</span>." + against + "</div>";
  else if (d.state == Drift::kSteady)
    out += "<div class=\"verdict ok\"><span class=\"badge ok\">Steady</span><span class=\"fig\">" + words +
           "</span>." + against + "</div>";
  else
    out += "<div class=\"verdict warn\"><span class=\"badge info\">Not judged</span>Drift not judged: " + words +
           ".</div>";
}

void StoreSection(std::string& out, const StoreHistory& s, bool limits) {
  out += "<section id=\"" + Anchor(s.serial) + "\"><h2>SNr. " + SerialText(s.serial) + "</h2>";
  // Its facts in a line: the fleet's table has its dates, its runs' table
  // the rest.
  const report::RunFigures* last = s.runs.empty() ? nullptr : &s.runs.back().figures;
  out += "<p class=\"sub\">";
  if (last) {
    out += "Firmware " + (last->firmware.empty() ? std::string(kDash) : HtmlFromFile(last->firmware)) + kSep +
           "operator " + (last->operatorName.empty() ? std::string(kDash) : HtmlFromFile(last->operatorName)) +
           " (last run)" + kSep;
  }
  out += Plural(static_cast<int64_t>(s.runs.size()), "run", "runs") + kSep +
         Plural(static_cast<int64_t>(s.events.size()), "service event", "service events");
  if (limits) out += kSep + std::string("last run ") + (s.lastAccepted < 0 ? "not judged" : Html(s.lastVerdict));
  out += "</p>";
  DriftLine(out, s);

  std::vector<TrendEvent> marks;
  marks.reserve(s.events.size());
  for (const Event& e : s.events) marks.push_back({e.when, e.text});
  out += "<h3>Access times run by run</h3>";
  const std::string trend = TrendChart(Points(s), marks);
  if (trend.empty()) {
    out += "<p class=\"nodata\">No run has a measured access time.</p>";
  } else {
    out += "<figure>" + trend + "<figcaption>One point a run";
    if (!s.events.empty()) out += "; dashed: the service events below";
    out += ".</figcaption></figure>";
  }

  if (!s.events.empty()) {
    out +=
        "<h3>Service events</h3><div class=\"scroll\"><table class=\"events\"><thead><tr><th class=\"n\">No.</th>"
        "<th>Date</th><th>Kind</th><th>What was done</th></tr></thead><tbody>";
    for (size_t k = 0; k < s.events.size(); ++k) {
      const Event& e = s.events[k];
      out += "<tr><td class=\"n\">" + Integer(static_cast<int64_t>(k + 1)) + "</td><td>" + Html(EventDate(e)) +
             "</td><td>" + (e.mechanics ? "mechanics" : "other") + "</td><td>" + Html(e.text) + "</td></tr>";
    }
    out += "</tbody></table></div>";
  }

  out += "<h3>Runs</h3>";
  if (s.runs.empty()) {
    out += "<p class=\"nodata\">No run of this store in the archive.</p>";
  } else {
    std::vector<ComparisonRow> rows;
    rows.reserve(s.runs.size());
    for (size_t i = 0; i < s.runs.size(); ++i) {
      ComparisonRow row;
      row.figures = s.runs[i].figures;
      row.label = Integer(static_cast<int64_t>(i + 1));
      rows.push_back(std::move(row));
    }
    out += ComparisonTable(rows, false);
  }
  out += "</section>\n";
}

}  // namespace

std::string WriteFleetPage(const std::vector<StoreHistory>& stores, std::string_view generator,
                           std::string_view limitsFile) {
  std::vector<const StoreHistory*> order;
  order.reserve(stores.size());
  size_t runs = 0;
  report::Stamp first, last;
  for (const StoreHistory& s : stores) {
    order.push_back(&s);
    runs += s.runs.size();
    for (const StoredRun& r : s.runs) {
      const report::Stamp st = r.figures.start;
      if (!st.valid) continue;
      if (!first.valid || st.Seconds() < first.Seconds()) first = st;
      if (!last.valid || st.Seconds() > last.Seconds()) last = st;
    }
  }
  std::stable_sort(order.begin(), order.end(), [](const StoreHistory* a, const StoreHistory* b) {
    if (a->drift.Flagged() != b->drift.Flagged()) return a->drift.Flagged();
    return a->serial < b->serial;
  });
  const bool limits = !limitsFile.empty();

  const std::string title = "Store archive: " + Plural(static_cast<int64_t>(stores.size()), "store", "stores") +
                            ", " + Plural(static_cast<int64_t>(runs), "run", "runs");
  std::string sub;
  if (first.valid) sub = "Runs from " + first.Date() + " to " + last.Date();
  if (limits) sub += (sub.empty() ? "" : kSep) + std::string("limits: ") + Html(limitsFile);

  std::string out;
  out.reserve(8192 + runs * 480 + stores.size() * 6144);
  out +=
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>" +
      title + "</title><style>" + PageStyle() + kFleetStyle + "</style></head>\n<body><main><header><h1>" + title +
      "</h1>";
  if (!sub.empty()) out += "<p class=\"sub\">" + sub + "</p>";
  out += "</header>\n";
  if (stores.empty()) {
    out += "<p class=\"nodata\">No run in the archive.</p>";
  } else {
    FleetTable(out, order, limits);
    for (const StoreHistory* s : order) StoreSection(out, *s, limits);
  }
  out += "<footer>Made by " + Html(generator) + " from the archive's " + Plural(static_cast<int64_t>(runs), "run", "runs") +
         " of the random-access test. Times are in seconds as the result files give them, to a tenth.</footer>"
         "</main></body></html>\n";
  return out;
}

}  // namespace archive
