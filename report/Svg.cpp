// The page's charts as inline SVG: the handling-time histogram, the climate
// readings in three panels over the run's time, and the trend of the access
// times across runs. Each scales with the page (viewBox, width 100 %), and
// long series are thinned to what the drawing can show: a day of climate
// lines is a few hundred points per panel, with every spike kept.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "report/PageParts.h"

namespace report::page {

namespace {

constexpr double kWidth = 800;  // viewBox width of every chart
// Room for the y axis's labels and its title, also in the larger type the
// page uses on narrow screens.
constexpr double kLeft = 74;

// The plot area of a chart, in viewBox pixels.
struct Plot {
  double left, top, width, height;
  double Bottom() const { return top + height; }
  double Right() const { return left + width; }
};

double MapX(const Axis& a, const Plot& p, double v) { return p.left + (v - a.lo) / (a.hi - a.lo) * p.width; }
double MapY(const Axis& a, const Plot& p, double v) { return p.Bottom() - (v - a.lo) / (a.hi - a.lo) * p.height; }

// A coordinate for an attribute: a tenth of a pixel is plenty.
std::string N(double px) { return Tenths(std::lround(px * 10)); }

std::string Open(double height, const std::string& label) {
  return "<svg class=\"chart\" viewBox=\"0 0 " + N(kWidth) + " " + N(height) + "\" role=\"img\" aria-label=\"" +
         Html(label) + "\">";
}

std::string Text(double x, double y, const std::string& escaped, const char* extra = "") {
  return "<text x=\"" + N(x) + "\" y=\"" + N(y) + "\"" + extra + ">" + escaped + "</text>";
}

// Horizontal grid lines and labels for a y axis.
std::string YAxis(const Axis& a, const Plot& p) {
  PathData grid;
  std::string labels = "<g text-anchor=\"end\">";
  for (int i = 0; i < a.Count(); ++i) {
    const double v = a.Tick(i), y = MapY(a, p, v);
    grid.MoveTo(p.left, y);
    grid.LineTo(p.Right(), y);
    labels += Text(p.left - 6, y + 4, Fixed(v, a.decimals));
  }
  return "<path class=\"grid\" d=\"" + grid.Take() + "\"/>" + labels + "</g>";
}

// Ticks and labels along the bottom of p, grid lines from gridTop down.
std::string XAxis(const Axis& a, const Plot& p, double gridTop) {
  PathData grid, ticks;
  std::string labels = "<g text-anchor=\"middle\">";
  for (int i = 0; i < a.Count(); ++i) {
    const double v = a.Tick(i), x = MapX(a, p, v);
    if (x < p.left - 0.5 || x > p.Right() + 0.5) continue;
    grid.MoveTo(x, gridTop);
    grid.LineTo(x, p.Bottom());
    ticks.MoveTo(x, p.Bottom());
    ticks.LineTo(x, p.Bottom() + 5);
    labels += Text(x, p.Bottom() + 19, Fixed(v, a.decimals));
  }
  return "<path class=\"grid\" d=\"" + grid.Take() + "\"/><path class=\"axis\" d=\"" + ticks.Take() + "\"/>" + labels +
         "</g>";
}

// The frame's left and bottom lines.
std::string Frame(const Plot& p) {
  PathData d;
  d.MoveTo(p.left, p.top);
  d.LineTo(p.left, p.Bottom());
  d.LineTo(p.Right(), p.Bottom());
  return "<path class=\"axis\" d=\"" + d.Take() + "\"/>";
}

std::string YTitle(const Plot& p, const std::string& escaped) {
  const double cy = p.top + p.height / 2;
  return "<text transform=\"translate(14 " + N(cy) + ") rotate(-90)\" text-anchor=\"middle\">" + escaped + "</text>";
}

// A legend entry: a swatch (a bar, or a line, dashed or not) and its text;
// returns the x where the next entry may start.
double LegendEntry(std::string& svg, double x, double y, const char* colour, const std::string& text, bool line,
                   bool dashed = false) {
  if (line) {
    svg += "<path d=\"M" + N(x) + " " + N(y - 4) + "h22\" stroke=\"" + colour + "\" stroke-width=\"2.5\"" +
           (dashed ? " stroke-dasharray=\"6 3\"" : "") + "/>";
    x += 28;
  } else {
    svg += "<rect x=\"" + N(x) + "\" y=\"" + N(y - 10) + "\" width=\"12\" height=\"12\" fill=\"" + colour + "\"/>";
    x += 18;
  }
  svg += Text(x, y, text);
  return x + 10.5 * static_cast<double>(text.size()) + 20;  // room for the narrow screens' larger type
}

}  // namespace

// --- handling-time histogram ------------------------------------------------------------

std::string HistogramChart(const Run& run) {
  const auto& rows = run.histogram;
  if (rows.empty()) return {};
  // The file's range runs two bins past the extremes; the chart spans the
  // bins that hold something (all of them when none does).
  int first = -1, last = -1, lowest = rows.front().bin, highest = rows.front().bin;
  uint32_t top = 0;
  for (const HistogramRow& r : rows) {
    lowest = std::min(lowest, r.bin), highest = std::max(highest, r.bin);
    const uint32_t a = r.ready[kAll], b = r.plateReady[kAll];
    top = std::max({top, a, b});
    if (a == 0 && b == 0) continue;
    if (first < 0 || r.bin < first) first = r.bin;
    last = std::max(last, r.bin);
  }
  if (first < 0) first = lowest, last = highest;

  const double height = 300;
  const Plot p{kLeft, 34, kWidth - kLeft - 20, height - 34 - 48};
  const Axis x = NiceAxis(first * 0.5, (last + 1) * 0.5, 10);
  Axis y = NiceAxis(0, std::max<uint32_t>(top, 1), 5);
  if (y.step < 1) y.step = 1, y.hi = std::ceil(y.hi), y.decimals = 0;  // counts are whole

  // Ready on the left half of its bin, PlateReady on the right; a count of
  // one stays visible however tall the highest bar is.
  const double bin = 0.5 * p.width / (x.hi - x.lo);
  const double gap = bin >= 8 ? bin * 0.15 : 0;
  const double bar = (bin - gap) / 2;
  PathData ready, plate;
  for (const HistogramRow& r : rows) {
    const double x0 = MapX(x, p, r.bin * 0.5) + gap / 2;
    if (x0 < p.left - 0.01 || x0 + 2 * bar > p.Right() + 0.01) continue;
    const uint32_t counts[2] = {r.ready[kAll], r.plateReady[kAll]};
    for (int s = 0; s < 2; ++s) {
      if (counts[s] == 0) continue;
      const double h = std::max(1.5, counts[s] / y.hi * p.height);
      (s == 0 ? ready : plate).Rect(x0 + s * bar, p.Bottom() - h, bar, h);
    }
  }

  std::string svg = Open(height, "Histogram of the handling times");
  svg += YAxis(y, p);
  svg += XAxis(x, p, p.top);
  svg += "<path fill=\"" + std::string(kReadyColour) + "\" d=\"" + ready.Take() + "\"/>";
  svg += "<path fill=\"" + std::string(kPlateReadyColour) + "\" d=\"" + plate.Take() + "\"/>";
  svg += Frame(p);
  svg += YTitle(p, "Accesses");
  svg += Text(p.left + p.width / 2, height - 8, "Time from the access command [s], half-second bins",
              " text-anchor=\"middle\"");
  svg += "<g class=\"legend\">";
  const double lx = LegendEntry(svg, p.left, 18, kReadyColour, "Ready", false);
  LegendEntry(svg, lx, 18, kPlateReadyColour, "PlateReady", false);
  svg += "</g></svg>";
  return svg;
}

// --- climate ---------------------------------------------------------------------------------

namespace {

// Minutes since the start of each reading: a line's place in the file tells
// its time (also when a damaged line between was left out), at one line per
// climate interval.
std::vector<double> ReadingMinutes(const Run& run) {
  const auto& c = run.climate;
  int base = c.front().line - 1;
  for (const Header& h : run.headers) {
    // Nine header lines and the column line come before the first reading.
    if (h.title.rfind("Climate", 0) == 0 && h.line > 0 && h.line + 9 < c.front().line) {
      base = h.line + 9;
      break;
    }
  }
  std::vector<double> minutes(c.size());
  const double perLine = ClimateInterval(run) / 60;
  double prev = 0;
  for (size_t i = 0; i < c.size(); ++i) {
    double m = c[i].line - base;
    if (m <= prev) m = prev + 1;
    prev = m;
    minutes[i] = m * perLine;
  }
  return minutes;
}

// A line through the points (pixels, in time order) for a plot `width`
// wide: all of them when they are far enough apart, else the lowest and the
// highest of every few pixels, in the order they came, so that a spike of
// one reading still shows.
void Series(PathData& d, const std::vector<double>& xs, const std::vector<double>& ys, double left, double width) {
  constexpr double kBucket = 4;  // pixels
  const size_t n = xs.size();
  if (static_cast<double>(n) <= width / kBucket) {
    for (size_t i = 0; i < n; ++i) (i == 0 ? d.MoveTo(xs[i], ys[i]) : d.LineTo(xs[i], ys[i]));
    return;
  }
  bool started = false;
  size_t i = 0;
  while (i < n) {
    const long bucket = std::lround(std::floor((xs[i] - left) / kBucket));
    size_t lo = i, hi = i, j = i;
    for (; j < n && std::lround(std::floor((xs[j] - left) / kBucket)) == bucket; ++j) {
      if (ys[j] > ys[lo]) lo = j;  // pixels grow downwards: the lowest value
      if (ys[j] < ys[hi]) hi = j;
    }
    const double bx = left + (static_cast<double>(bucket) + 0.5) * kBucket;
    const size_t a = std::min(lo, hi), b = std::max(lo, hi);
    started ? d.LineTo(bx, ys[a]) : d.MoveTo(bx, ys[a]);
    started = true;
    d.LineTo(bx, ys[b]);
    i = j;
  }
}

}  // namespace

double ClimateInterval(const Run& run) {
  const int64_t seconds = RunSeconds(run);
  if (run.climate.empty() || seconds <= 0) return 60;
  // The places of the lines, damaged ones included: the first and last
  // reading's lines less the lines before the first.
  const double lines = run.climate.back().line - run.climate.front().line + 1;
  // The last line comes less than one interval before the end: half of one
  // on average. A run whose file stopped taking lines early would stretch
  // the interval beyond reason; then the nominal minute is the better guess.
  const double interval = static_cast<double>(seconds) / (lines + 0.5);
  return interval >= 60 && interval <= 75 ? interval : 60;
}

std::string ClimateChart(const Run& run) {
  const auto& c = run.climate;
  if (c.empty()) return {};
  const std::vector<double> minutes = ReadingMinutes(run);
  const bool hours = minutes.back() > 120;
  const double scale = hours ? 1.0 / 60 : 1.0;
  const Axis x = TimeAxis(minutes.back() * scale, hours, 10);

  struct Panel {
    const char* title;
    const char* unit;
    const char* colour;
    double ClimateReading::*value;
  };
  const Panel panels[3] = {{"Temperature",
                            "\xC2\xB0"
                            "C",
                            kTemperatureColour, &ClimateReading::temperature},
                           {"Humidity", "%RH", kHumidityColour, &ClimateReading::humidity},
                           {"CO\xE2\x82\x82", "%", kCo2Colour, &ClimateReading::co2}};
  const double left = kLeft, right = 20, titleH = 22, plotH = 78, gap = 10, top = 4, bottom = 48;
  const double height = top + 3 * (titleH + plotH) + 2 * gap + bottom;
  const double width = kWidth - left - right;

  std::vector<double> xs(c.size()), ys(c.size());
  for (size_t i = 0; i < c.size(); ++i) xs[i] = left + minutes[i] * scale / x.hi * width;

  std::string svg = Open(height, "Climate readings: temperature, humidity and CO2 over the run");
  double panelTop = top;
  for (const Panel& panel : panels) {
    double lo = c.front().*panel.value, hi = lo, sum = 0;
    for (const ClimateReading& r : c) {
      const double v = r.*panel.value;
      lo = std::min(lo, v), hi = std::max(hi, v), sum += v;
    }
    const Plot p{left, panelTop + titleH, width, plotH};
    const Axis y = NiceAxis(lo, hi, 3);
    for (size_t i = 0; i < c.size(); ++i) ys[i] = MapY(y, p, c[i].*panel.value);

    svg += Text(left, panelTop + 15, std::string(panel.title) + " [" + panel.unit + "]",
                (std::string(" class=\"ptitle\" fill=\"") + panel.colour + "\"").c_str());
    svg += Text(p.Right(), panelTop + 15,
                "min " + Fixed(lo, 1) + " \xC2\xB7 mean " + Fixed(sum / static_cast<double>(c.size()), 1) +
                    " \xC2\xB7 max " + Fixed(hi, 1),
                " text-anchor=\"end\" class=\"note\"");
    svg += YAxis(y, p);
    // The time grid in every panel; its labels under the last one.
    PathData grid;
    for (int i = 0; i < x.Count(); ++i) {
      const double gx = MapX(x, p, x.Tick(i));
      grid.MoveTo(gx, p.top);
      grid.LineTo(gx, p.Bottom());
    }
    svg += "<path class=\"grid\" d=\"" + grid.Take() + "\"/>";
    svg += Frame(p);
    if (c.size() < 3) {
      for (size_t i = 0; i < c.size(); ++i)
        svg += "<circle cx=\"" + N(xs[i]) + "\" cy=\"" + N(ys[i]) + "\" r=\"3\" fill=\"" + panel.colour + "\"/>";
    } else {
      PathData d;
      Series(d, xs, ys, left, width);
      svg += "<path class=\"line\" stroke=\"" + std::string(panel.colour) + "\" d=\"" + d.Take() + "\"/>";
    }
    if (&panel == &panels[2]) {
      svg += XAxis(x, p, p.Bottom());
      svg += Text(p.left + p.width / 2, height - 8,
                  std::string("Time since the start of the run [") + (hours ? "h" : "min") + "]",
                  " text-anchor=\"middle\"");
    }
    panelTop += titleH + plotH + gap;
  }
  svg += "</svg>";
  return svg;
}

// --- trend across runs ---------------------------------------------------------------------

namespace {

constexpr int64_t kDaySeconds = 86400;
// Runs of a day or two stand side by side, each in its own slot, which
// reads better than points crowded on a short time scale; a history of
// weeks and months is honest only to scale.
constexpr int64_t kTimeAxisAfter = 2 * kDaySeconds;
constexpr const char* kEventColour = "#5a6b7d";

int64_t Modulo(int64_t a, int64_t b) { return ((a % b) + b) % b; }

struct CalendarTick {
  double seconds;
  std::string label;
};

// Ticks at round steps of the calendar over [lo, hi] (seconds since 2000):
// the finest of days, weeks (from a Monday), months, quarters and years
// whose labels still fit side by side. A tick a little outside the range
// widens it, so that the first run's week or month is named too.
std::vector<CalendarTick> CalendarTicks(double& lo, double& hi) {
  struct Step {
    int days, months;
  };
  static const Step kSteps[] = {{1, 0},  {2, 0},  {7, 0},  {14, 0},  {0, 1},   {0, 2},
                                {0, 3},  {0, 6},  {0, 12}, {0, 24},  {0, 60},  {0, 120}};
  const double slack = (hi - lo) * 0.06;
  const double from = lo - slack, to = hi + slack;
  const int64_t firstDay = static_cast<int64_t>(std::floor(from / kDaySeconds));
  std::vector<CalendarTick> ticks;
  for (const Step& s : kSteps) {
    ticks.clear();
    char buf[16];
    if (s.days) {
      // Weeks from the first Monday in the range (3 Jan 2000, day 2, was
      // one), days from its first midnight.
      int64_t d = firstDay + 1;
      if (s.days % 7 == 0) d += Modulo(2 - d, 7);
      for (; d * kDaySeconds <= to; d += s.days) {
        const double t = static_cast<double>(d * kDaySeconds);
        if (t < from) continue;
        int y, m, dd;
        fields::CivilDate(d, y, m, dd);
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, dd);
        ticks.push_back({t, buf});
      }
    } else {
      int y, m, dd;
      fields::CivilDate(firstDay, y, m, dd);
      int64_t month = static_cast<int64_t>(y) * 12 + (m - 1);
      month -= Modulo(month, s.months);
      for (;; month += s.months) {
        const int year = static_cast<int>(month / 12), mon = static_cast<int>(month % 12) + 1;
        const double t = static_cast<double>(fields::DayNumber(year, mon, 1) * kDaySeconds);
        if (t > to) break;
        if (t < from) continue;
        std::snprintf(buf, sizeof buf, "%04d-%02d", year, mon);
        ticks.push_back({t, buf});
      }
    }
    // A date is wider than a month: fewer of them fit.
    if (ticks.size() <= (s.days ? 6u : 8u)) break;
  }
  if (!ticks.empty()) lo = std::min(lo, ticks.front().seconds), hi = std::max(hi, ticks.back().seconds);
  return ticks;
}

// The range of a trend's access-time axis: from 0 when the figures come
// near it anyway, else around the figures, but never less than
// kMinTrendSpan.
void TrendRange(double low, double top, double& lo, double& hi) {
  lo = low < top * 0.4 ? 0 : low, hi = std::max(top, 0.1);
  if (hi - lo < kMinTrendSpan) {
    lo = std::max(0.0, (lo + hi - kMinTrendSpan) / 2);
    hi = lo + kMinTrendSpan;
  }
}

// Whether the runs stand on a time axis, and its first and last start.
bool FarApart(const std::vector<TrendPoint>& points, int64_t& first, int64_t& last) {
  if (points.empty()) return false;
  first = last = points.front().start.Seconds();
  for (const TrendPoint& pt : points) {
    if (!pt.start.valid) return false;
    first = std::min(first, pt.start.Seconds()), last = std::max(last, pt.start.Seconds());
  }
  return last - first > kTimeAxisAfter;
}

}  // namespace

std::string TrendChart(const std::vector<TrendPoint>& points, const std::vector<TrendEvent>& events) {
  const size_t n = points.size();
  std::vector<double> mean(n, -1), max(n, -1);
  double top = 0;
  bool any = false;
  for (size_t i = 0; i < n; ++i) {
    if (points[i].mean >= 0) mean[i] = points[i].mean, top = std::max(top, mean[i]), any = true;
    if (points[i].max >= 0) max[i] = points[i].max, top = std::max(top, max[i]), any = true;
  }
  if (!any) return {};
  int64_t first = 0, last = 0;
  const bool timeAxis = FarApart(points, first, last);

  // Runs that share a day are told apart by their time, in a second line
  // under the date.
  bool sharedDay = false;
  for (size_t i = 0; i < n && !sharedDay && !timeAxis; ++i)
    for (size_t k = i + 1; k < n && !sharedDay; ++k) {
      const Stamp a = points[i].start, b = points[k].start;
      sharedDay = a.valid && b.valid && a.Date() == b.Date();
    }
  const double height = sharedDay ? 294 : 280;
  const Plot p{kLeft, 34, kWidth - kLeft - 20, height - 34 - (sharedDay ? 62 : 48)};
  // The axis spans the figures, not 0 to the top, so that a store a few
  // tenths slower than last month shows it; but never less than a second,
  // so that 2.0 and 2.1 s do not fill the chart from bottom to top as if
  // the store had failed.
  double low = top;
  for (size_t i = 0; i < n; ++i)
    for (double v : {mean[i], max[i]})
      if (v >= 0) low = std::min(low, v);
  double lo = 0, hi = 1;
  TrendRange(low, top, lo, hi);
  const Axis y = NiceAxis(lo, hi, 5);

  // On a time axis the runs, and the events among them, are placed by
  // date, a little in from the frame.
  double tlo = static_cast<double>(first), thi = static_cast<double>(last);
  std::vector<CalendarTick> calendar;
  if (timeAxis) {
    for (const TrendEvent& e : events)
      if (e.when.valid) tlo = std::min(tlo, static_cast<double>(e.when.Seconds())), thi = std::max(thi, static_cast<double>(e.when.Seconds()));
    const double pad = (thi - tlo) * 0.03;
    tlo -= pad, thi += pad;
    calendar = CalendarTicks(tlo, thi);
  }
  const auto xOfTime = [&](int64_t s) { return p.left + (static_cast<double>(s) - tlo) / (thi - tlo) * p.width; };
  const double slot = p.width / static_cast<double>(n);
  const auto xAt = [&](size_t i) {
    return timeAxis ? xOfTime(points[i].start.Seconds()) : p.left + (static_cast<double>(i) + 0.5) * slot;
  };

  std::string svg = Open(height, "Mean and maximum access time per run");
  svg += YAxis(y, p);
  PathData ticks;
  std::string labels = "<g text-anchor=\"middle\">";
  if (timeAxis) {
    PathData grid;
    for (const CalendarTick& t : calendar) {
      const double x = p.left + (t.seconds - tlo) / (thi - tlo) * p.width;
      grid.MoveTo(x, p.top);
      grid.LineTo(x, p.Bottom());
      ticks.MoveTo(x, p.Bottom());
      ticks.LineTo(x, p.Bottom() + 5);
      labels += Text(x, p.Bottom() + 19, t.label);
    }
    svg += "<path class=\"grid\" d=\"" + grid.Take() + "\"/>";
  } else {
    // A run's date under its point; as many as fit side by side.
    const size_t every = std::max<size_t>(1, static_cast<size_t>(std::ceil(110.0 / slot)));
    for (size_t i = 0; i < n; ++i) {
      // A tick for every run when they are few enough to tell apart.
      if (i % every == 0 || slot >= 4) {
        ticks.MoveTo(xAt(i), p.Bottom());
        ticks.LineTo(xAt(i), p.Bottom() + (i % every == 0 ? 5 : 3));
      }
      if (i % every != 0) continue;
      const Stamp s = points[i].start;
      labels += Text(xAt(i), p.Bottom() + 19, s.valid ? Html(s.Date()) : "?");
      if (sharedDay && s.valid) labels += Text(xAt(i), p.Bottom() + 33, Html(s.Time().substr(0, 5)));
    }
  }
  svg += "<path class=\"axis\" d=\"" + ticks.Take() + "\"/>" + labels + "</g>";

  if (!events.empty()) {
    // Where each event goes: on a time axis at its date; side by side in
    // the gap between the runs before and after it, several in one gap
    // spread across it.
    std::vector<double> ex(events.size(), -1);
    if (timeAxis) {
      for (size_t k = 0; k < events.size(); ++k)
        if (events[k].when.valid) ex[k] = xOfTime(events[k].when.Seconds());
    } else {
      std::vector<size_t> gap(events.size(), 0), inGap(n + 1, 0);
      for (size_t k = 0; k < events.size(); ++k) {
        if (!events[k].when.valid) continue;
        const int64_t t = events[k].when.Seconds();
        size_t i = 0;
        while (i < n && points[i].start.valid && points[i].start.Seconds() <= t) ++i;
        gap[k] = i;
        ++inGap[i];
      }
      std::vector<size_t> placed(n + 1, 0);
      for (size_t k = 0; k < events.size(); ++k) {
        if (!events[k].when.valid) continue;
        const size_t i = gap[k];
        const double a = i == 0 ? p.left : xAt(i - 1), b = i == n ? p.Right() : xAt(i);
        ex[k] = a + (b - a) * static_cast<double>(++placed[i]) / static_cast<double>(inGap[i] + 1);
      }
    }
    // A dashed line down the plot, a marker over it that names the event
    // when pointed at, and its number beside it; numbers of events close
    // together go one under the other.
    PathData lines, marks;
    std::string numbers = std::string("<g font-weight=\"600\" fill=\"") + kEventColour + "\">";
    std::string titles;
    std::vector<int> row(events.size(), 0);
    for (size_t k = 0; k < events.size(); ++k) {
      if (ex[k] < 0) continue;
      for (bool clash = true; clash;) {
        clash = false;
        for (size_t j = 0; j < k; ++j)
          if (ex[j] >= 0 && row[j] == row[k] && std::fabs(ex[j] - ex[k]) < 18) clash = true;
        if (clash) ++row[k];
      }
      lines.MoveTo(ex[k], p.top);
      lines.LineTo(ex[k], p.Bottom());
      titles += "<path d=\"M" + N(ex[k] - 5) + " " + N(p.top - 9) + "h10l-5 9z\"><title>" +
                Html(events[k].when.Date() + ": " + events[k].text) + "</title></path>";
      numbers += Text(ex[k] + 4, p.top + 14 + 15 * (row[k] % 4), Integer(static_cast<int64_t>(k + 1)));
    }
    svg += std::string("<path fill=\"none\" stroke=\"") + kEventColour + "\" stroke-dasharray=\"4 3\" d=\"" +
           lines.Take() + "\"/><g class=\"events\" fill=\"" + kEventColour + "\">" + titles + "</g>" + numbers +
           "</g>";
  }

  // A run without the figure leaves a gap in its line. Side by side each
  // run has a marker to point at while they are few enough to tell apart;
  // on a time axis runs may crowd, and a store's long history stays small
  // without them (the corners of the line show the runs).
  const bool markers = timeAxis ? n <= 12 : n <= 60;
  const auto series = [&](const std::vector<double>& v, const char* colour, bool dashed, const char* what) {
    PathData d;
    bool joined = false;
    for (size_t i = 0; i < n; ++i) {
      if (v[i] < 0) {
        joined = false;
        continue;
      }
      joined ? d.LineTo(xAt(i), MapY(y, p, v[i])) : d.MoveTo(xAt(i), MapY(y, p, v[i]));
      joined = true;
    }
    std::string s = "<path class=\"line\" stroke=\"" + std::string(colour) + "\"" +
                    (dashed ? " stroke-dasharray=\"6 3\"" : "") + " d=\"" + d.Take() + "\"/>";
    // A lone point between gaps has no line: it always gets its marker.
    s += "<g fill=\"" + std::string(colour) + "\">";
    for (size_t i = 0; i < n; ++i) {
      if (v[i] < 0) continue;
      const bool alone = (i == 0 || v[i - 1] < 0) && (i + 1 == n || v[i + 1] < 0);
      if (!markers && !alone) continue;
      const Stamp st = points[i].start;
      s += "<circle cx=\"" + N(xAt(i)) + "\" cy=\"" + N(MapY(y, p, v[i])) + "\" r=\"3.5\"><title>" +
           (st.valid ? Html(st.Date() + " " + st.Time()) : std::string("run without a date")) + ": " + what + " " +
           Fixed(v[i], 1) + " s</title></circle>";
    }
    return s + "</g>";
  };
  svg += series(max, kMaxColour, true, "maximum");
  svg += series(mean, kMeanColour, false, "mean");
  svg += Frame(p);
  svg += YTitle(p, "Access time [s]");
  svg += Text(p.left + p.width / 2, height - 8,
              timeAxis ? "Date the run started, to scale" : "Runs in the order they started",
              " text-anchor=\"middle\"");
  svg += "<g class=\"legend\">";
  const double lx = LegendEntry(svg, p.left, 18, kMeanColour, "Mean access time", true);
  LegendEntry(svg, lx, 18, kMaxColour, "Maximum access time", true, true);
  svg += "</g></svg>";
  return svg;
}

std::string Sparkline(const std::vector<TrendPoint>& points) {
  constexpr double kW = 120, kH = 28, kPad = 3;
  const size_t n = points.size();
  double top = 0, low = 0;
  size_t measured = 0, lastMeasured = 0;
  for (size_t i = 0; i < n; ++i) {
    if (points[i].mean < 0) continue;
    low = measured ? std::min(low, points[i].mean) : points[i].mean;
    top = std::max(top, points[i].mean);
    ++measured, lastMeasured = i;
  }
  if (measured == 0) return {};
  double lo = 0, hi = 1;
  TrendRange(low, top, lo, hi);
  int64_t first = 0, last = 0;
  const bool timeAxis = FarApart(points, first, last);
  const auto x = [&](size_t i) {
    if (timeAxis)
      return kPad + static_cast<double>(points[i].start.Seconds() - first) / static_cast<double>(last - first) *
                        (kW - 2 * kPad);
    return n == 1 ? kW / 2 : kPad + static_cast<double>(i) / static_cast<double>(n - 1) * (kW - 2 * kPad);
  };
  const auto yOf = [&](double v) { return kH - kPad - (v - lo) / (hi - lo) * (kH - 2 * kPad); };
  PathData d;
  bool joined = false;
  for (size_t i = 0; i < n; ++i) {
    if (points[i].mean < 0) {
      joined = false;
      continue;
    }
    joined ? d.LineTo(x(i), yOf(points[i].mean)) : d.MoveTo(x(i), yOf(points[i].mean));
    joined = true;
  }
  const std::string what = "mean access time, " + Integer(static_cast<int64_t>(measured)) +
                           (measured == 1 ? " run" : " runs");
  return "<svg class=\"spark\" viewBox=\"0 0 120 28\" width=\"120\" height=\"28\" role=\"img\"><title>" + what + "</title><path fill=\"none\" stroke=\"" + kMeanColour +
         "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" d=\"" + d.Take() + "\"/><circle cx=\"" +
         N(x(lastMeasured)) + "\" cy=\"" + N(yOf(points[lastMeasured].mean)) + "\" r=\"2.5\" fill=\"" + kMeanColour +
         "\"/></svg>";
}

}  // namespace report::page
