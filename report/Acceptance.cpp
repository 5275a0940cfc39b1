// The judgement of one run against the limits: one table row per criterion
// says what is asked, in which unit, and where the run's figure comes from.
// A figure is taken only as the file gives it (the summary's times to a
// tenth, the climate readings to a tenth, the histogram's half-second bins),
// so a figure just inside a limit passes and one just outside fails with no
// rounding of our own in between.
#include "report/Acceptance.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "report/PageParts.h"

namespace report {

using page::Fixed;
using page::Shortest;
using page::Integer;

namespace {

enum class Compare { kRequired, kAtLeast, kAtMost };

// A figure the run gives, or why it cannot.
struct Figure {
  bool known = false;
  double value = 0;
  std::string why;
};

Figure Known(double v) { return Figure{true, v, {}}; }
Figure Unknown(std::string why) { return Figure{false, 0, std::move(why)}; }

constexpr const char* kGroupText[3] = {"all accesses", "loads", "unloads"};
constexpr const char* kStatText[3] = {"Mean", "Maximum", "95th percentile of"};
constexpr const char* kClimateName[3] = {"Temperature", "Humidity", "CO2"};
constexpr const char* kClimateUnit[3] = {" \xC2\xB0" "C", " %", " %"};
constexpr double ClimateReading::*kClimateField[3] = {&ClimateReading::temperature, &ClimateReading::humidity,
                                                      &ClimateReading::co2};
constexpr uint32_t kFullBin = 65535;  // the console's bins stop counting there

// How a criterion is shown and where its figure comes from.
struct Row {
  std::string asked;
  Compare compare = Compare::kAtMost;
  std::string unit;  // after the number, with its blank
  int decimals = 0;  // of the figure
  bool percent = false;  // a share, shown in percent
  Figure figure;
};

bool InBand(double v, const ClimateBand& b) { return v >= b.low && v <= b.high; }

std::string BandText(ClimateValue v, const ClimateBand& b) {
  return Fixed(b.low, 1) + " to " + Fixed(b.high, 1) + kClimateUnit[v];
}

Figure TimeFigure(const Run& run, bool plate, Group g, TimeStat stat) {
  const Summary& s = run.summary;
  const char* what = plate ? "PlateReady" : "Ready";
  if (stat == kTimeP95) {
    if (plate && !s.PlateReadyMeasured(g)) return Unknown("no measured PlateReady time in the test summary");
    if (run.histogram.empty()) return Unknown("no histogram in the file");
    const int column = (plate ? 3 : 0) + g;
    for (const HistogramRow& r : run.histogram)
      if ((plate ? r.plateReady[g] : r.ready[g]) >= kFullBin)
        return Unknown("a bin of the histogram is full (65535 accesses)");
    double bound = 0;
    if (!P95UpperBound(run, column, bound)) return Unknown(std::string("the histogram counts no ") + what + " time");
    return Known(bound);
  }
  double v = 0;
  const page::Stat st = stat == kTimeMean ? page::kMean : page::kMax;
  if (plate ? page::PlateReadyTime(s, st, g, v) : page::ReadyTime(s, st, g, v)) return Known(v);
  return Unknown(std::string("no measured ") + what + " time in the test summary");
}

Figure ClimateFigure(const Run& run, ClimateValue v, const ClimateBand& band, bool share) {
  if (run.climate.empty()) return Unknown("no climate reading in the file");
  size_t inside = 0, stretch = 0, longest = 0;
  for (const ClimateReading& r : run.climate) {
    if (InBand(r.*kClimateField[v], band)) {
      ++inside;
      stretch = 0;
    } else {
      longest = std::max(longest, ++stretch);
    }
  }
  // One climate line a minute: minutes and lines are one count.
  if (share) return Known(static_cast<double>(inside) / static_cast<double>(run.climate.size()));
  return Known(static_cast<double>(longest));
}

// The console leaves its line note only when the line was lost, and writes
// it with the summary: a complete run without one lost nothing, a run cut
// short may have lost its note with its ending.
Figure LineFigure(const Run& run, bool down) {
  const int64_t v = down ? run.lineDownSeconds : run.lineLosses;
  if (v >= 0) return Known(static_cast<double>(v));
  if (run.complete) return Known(0);
  return Unknown("the run ended without its summary, so the console's line note may be missing");
}

Row MakeRow(Criterion c, const Run& run, const Limits& limits) {
  Row r;
  const Summary& s = run.summary;
  if (c >= kReadyFirst && c < kClimateFirst) {
    const int i = c - kReadyFirst;
    const bool plate = i >= 9;
    const Group g = Group(i % 9 / 3);
    const TimeStat stat = TimeStat(i % 3);
    r.asked = std::string(kStatText[stat]) + (plate ? " PlateReady" : " Ready") + " time of " + kGroupText[g];
    if (stat == kTimeP95) r.asked += " (upper bound from the histogram)";
    r.unit = " s";
    r.decimals = 1;
    r.figure = TimeFigure(run, plate, g, stat);
    return r;
  }
  if (c >= kClimateFirst && c < kLineMaxLosses) {
    const ClimateValue v = ClimateValue((c - kClimateFirst) / 2);
    const bool share = (c - kClimateFirst) % 2 == 0;
    const ClimateBand& band = limits.band[v];
    if (share) {
      r.asked = std::string(kClimateName[v]) + " inside " + BandText(v, band) + ", share of the minutes";
      r.compare = Compare::kAtLeast;
      r.unit = " %";
      r.decimals = 1;
      r.percent = true;
    } else {
      r.asked = std::string(kClimateName[v]) + " outside " + BandText(v, band) + ", longest stretch";
      r.unit = " min";
    }
    r.figure = ClimateFigure(run, v, band, share);
    return r;
  }
  switch (c) {
    case kRunComplete:
      r.asked = "Run complete, with its test summary";
      r.compare = Compare::kRequired;
      r.figure = Known(run.complete ? 1 : 0);
      r.figure.why = run.incompleteReason;
      break;
    case kRunMinHours: {
      r.asked = "Length of the run";
      r.compare = Compare::kAtLeast;
      r.unit = " h";
      r.decimals = 2;
      const int64_t seconds = page::RunSeconds(run);
      r.figure = seconds >= 0 ? Known(seconds / 3600.0) : Unknown("the run's start or end is not in the file");
      break;
    }
    case kRunMinAccesses:
      r.asked = "Accesses counted";
      r.compare = Compare::kAtLeast;
      r.figure = s.totalAccesses >= 0 ? Known(static_cast<double>(s.totalAccesses))
                                      : Unknown("the test summary has no total of accesses");
      break;
    case kRunMaxCarPosErrors:
      r.asked = "Carousel position errors";
      r.figure = s.hasCarPosErrors ? Known(static_cast<double>(s.carPosErrors))
                                   : Unknown("the test summary has no count of carousel position errors");
      break;
    case kRunMaxNotCounted:
      r.asked = "Accesses in the histogram but not counted (at least)";
      if (s.totalAccesses < 0)
        r.figure = Unknown("the test summary has no total of accesses");
      else if (run.histogram.empty())
        r.figure = Unknown("no histogram in the file");
      else
        r.figure = Known(static_cast<double>(run.UncountedAccesses()));
      break;
    case kLineMaxLosses:
      r.asked = "Times the line to the store was lost";
      r.figure = LineFigure(run, false);
      break;
    case kLineMaxDownSeconds:
      r.asked = "Time the line was down, in all";
      r.unit = " s";
      r.figure = LineFigure(run, true);
      break;
    default:
      break;
  }
  return r;
}

}  // namespace

std::string CriterionKey(Criterion c) {
  if (c >= kReadyFirst && c < kClimateFirst) {
    static const char* const kGroupTable[3] = {"", ".load", ".unload"};
    static const char* const kStatKey[3] = {"max_mean_s", "max_max_s", "max_p95_s"};
    const int i = c - kReadyFirst;
    return std::string(i >= 9 ? "plate_ready" : "ready") + kGroupTable[i % 9 / 3] + "." + kStatKey[i % 3];
  }
  if (c >= kClimateFirst && c < kLineMaxLosses) {
    static const char* const kTable[3] = {"temperature", "humidity", "co2"};
    const int i = c - kClimateFirst;
    return std::string("climate.") + kTable[i / 2] + ((i % 2) ? ".max_outside_minutes" : ".min_inside_share");
  }
  switch (c) {
    case kRunComplete: return "run.complete";
    case kRunMinHours: return "run.min_hours";
    case kRunMinAccesses: return "run.min_accesses";
    case kRunMaxCarPosErrors: return "run.max_car_pos_errors";
    case kRunMaxNotCounted: return "run.max_not_counted";
    case kLineMaxLosses: return "line.max_losses";
    case kLineMaxDownSeconds: return "line.max_down_s";
    default: return "";
  }
}

bool P95UpperBound(const Run& run, int column, double& seconds) {
  if (column < 0 || column > 5) return false;
  const auto count = [column](const HistogramRow& r) -> uint64_t {
    return column < 3 ? r.ready[column] : r.plateReady[column - 3];
  };
  uint64_t n = 0;
  for (const HistogramRow& r : run.histogram) n += count(r);
  if (n == 0) return false;
  // Nearest rank: the smallest time at or below which 95 % of the accesses
  // lie. ceil(0.95 n) in whole numbers.
  const uint64_t rank = (95 * n + 99) / 100;
  // The rows are in the file's order, which is rising; sorted here all the
  // same, so that a damaged file cannot make the bound smaller than it is.
  std::vector<std::pair<int, uint64_t>> bins;
  for (const HistogramRow& r : run.histogram) bins.emplace_back(r.bin, count(r));
  std::sort(bins.begin(), bins.end());
  uint64_t seen = 0;
  for (const auto& [bin, c] : bins) {
    seen += c;
    if (seen >= rank) {
      seconds = (bin + 1) * 0.5;
      return true;
    }
  }
  return false;
}

int Judgement::Passed() const {
  int n = 0;
  for (const CriterionResult& c : criteria) n += c.outcome == Outcome::kPassed;
  return n;
}

const CriterionResult* Judgement::FirstFailure() const {
  for (const CriterionResult& c : criteria)
    if (c.outcome != Outcome::kPassed) return &c;
  return nullptr;
}

Judgement Judge(const Run& run, const Limits& limits) {
  Judgement j;
  for (int i = 0; i < kCriterionCount; ++i) {
    if (!limits.limit[i]) continue;
    const Criterion c = Criterion(i);
    const double limit = *limits.limit[i];
    Row row = MakeRow(c, run, limits);
    CriterionResult r;
    r.criterion = c;
    r.asked = row.asked;
    r.limitValue = limit;
    const double scale = row.percent ? 100 : 1;
    switch (row.compare) {
      case Compare::kRequired: r.limit = "required"; break;
      case Compare::kAtLeast: r.limit = "at least " + Shortest(limit * scale, row.decimals) + row.unit; break;
      case Compare::kAtMost: r.limit = "at most " + Shortest(limit * scale, row.decimals) + row.unit; break;
    }
    if (!row.figure.known) {
      r.outcome = Outcome::kNotJudged;
      r.why = row.figure.why;
      j.criteria.push_back(std::move(r));
      continue;
    }
    const double v = row.figure.value;
    r.figureValue = v;
    bool passed = false;
    switch (row.compare) {
      case Compare::kRequired: passed = v == limit; break;
      case Compare::kAtLeast: passed = v >= limit; break;
      case Compare::kAtMost: passed = v <= limit; break;
    }
    r.outcome = passed ? Outcome::kPassed : Outcome::kFailed;
    if (row.compare == Compare::kRequired) {
      r.figure = v == 1 ? "yes" : "no";
      if (!passed) r.why = row.figure.why;
    } else {
      // The figure and the margin to as many decimals as the limit shows
      // (a limit of 12.25 s against 12.3 s is 0.05 s off, not 0.1), and
      // enough more that a figure that failed never shows as its limit nor
      // its margin as nothing.
      const std::string limitText = Shortest(limit * scale, row.decimals);
      const size_t point = limitText.find('.');
      int d = point == std::string::npos ? row.decimals : static_cast<int>(limitText.size() - point - 1);
      d = std::max(d, row.decimals);
      while (!passed && d < 6 && Fixed(v * scale, d) == Fixed(limit * scale, d)) ++d;
      r.figure = Fixed(v * scale, d) + row.unit;
      const double margin = (row.compare == Compare::kAtLeast ? v - limit : limit - v) * scale;
      int md = d;
      while (!passed && md < 6 && Fixed(std::fabs(margin), md) == Fixed(0, md)) ++md;
      std::string m = Fixed(margin, md);
      if (!passed && m[0] != '-')
        m.insert(0, 1, '-');
      else if (passed && Fixed(std::fabs(margin), md) == Fixed(0, md))
        m = Fixed(0, md);
      else if (passed && margin > 0)
        m.insert(0, 1, '+');
      r.margin = m + row.unit;
    }
    j.criteria.push_back(std::move(r));
  }
  j.accepted = j.FirstFailure() == nullptr;
  return j;
}

std::string VerdictLine(const Judgement& j) {
  const CriterionResult* f = j.FirstFailure();
  std::string line;
  if (!f) {
    const size_t n = j.criteria.size();
    line = "Acceptance: accepted (" + Integer(static_cast<int64_t>(n)) + " of " + Integer(static_cast<int64_t>(n)) +
           (n == 1 ? " criterion)" : " criteria)");
  } else if (f->criterion == kRunComplete) {
    line = "Acceptance: NOT accepted: the run is incomplete" + (f->why.empty() ? std::string() : ": " + f->why);
  } else if (f->outcome == Outcome::kNotJudged) {
    line = "Acceptance: NOT accepted: " + f->asked + " not judged: " + f->why;
  } else {
    line = "Acceptance: NOT accepted: " + f->asked + " " + f->figure + " (limit: " + f->limit + ")";
  }
  // The console shows it in its own code page: the degree sign goes, and
  // so would any control character that came with a reason.
  std::string ascii;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line.compare(i, 3, " \xC2\xB0") == 0) {
      i += 2;
      ascii += ' ';
      continue;
    }
    const auto c = static_cast<unsigned char>(line[i]);
    if (c >= 0x20 && c < 0x7F) ascii += line[i];
  }
  return ascii;
}

}  // namespace report
