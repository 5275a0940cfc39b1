// Text, numbers, figures, axes and path data for the page and the table.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>
#include <vector>

#include "report/PageParts.h"

namespace report::page {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at s[i] (RFC 3629: no overlong
// forms, no surrogates, nothing above U+10FFFF); 0 when it is not one.
size_t SequenceLength(std::string_view s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = at(i);
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  if (at(i + 1) < lo || at(i + 1) > hi) return 0;
  for (size_t k = 2; k < n; ++k)
    if (at(i + k) < 0x80 || at(i + k) > 0xBF) return 0;
  return n;
}

const TimeFigure& Line(const Summary& s, Stat stat, Group g) {
  switch (stat) {
    case kMin:
      return s.minimum[g];
    case kMax:
      return s.maximum[g];
    default:
      return s.mean[g];
  }
}

}  // namespace

std::string CleanText(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7F)
        out += kReplacement;
      else
        out += static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t n = SequenceLength(s, i);
    // C1 controls (U+0080..U+009F) are C2 80..C2 9F.
    if (n == 0 || (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0)) {
      out += kReplacement;
      i += n == 0 ? 1 : n;
      continue;
    }
    out.append(s, i, n);
    i += n;
  }
  return out;
}

std::string Html(std::string_view s) {
  const std::string clean = CleanText(s);
  std::string out;
  out.reserve(clean.size() + clean.size() / 8);
  for (char c : clean) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string HtmlFromFile(std::string_view cp437) { return Html(Cp437ToUtf8(cp437)); }

std::string Fixed(double v, int decimals) {
  if (!std::isfinite(v)) return {};
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (r.ec != std::errc()) return {};
  std::string s(buf, r.ptr);
  // -0.04 rounds to "-0.0": a sign on nothing.
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string Shortest(double v, int least) {
  double scaled = v * std::pow(10.0, least);
  for (int d = least; d < 6; ++d, scaled *= 10)
    if (std::fabs(scaled - std::round(scaled)) < 1e-6) return Fixed(v, d);
  return Fixed(v, 6);
}

std::string Integer(int64_t v) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

bool ReadyTime(const Summary& s, Stat stat, Group g, double& seconds) {
  const TimeFigure& f = Line(s, stat, g);
  if (!f.present || !s.ReadyMeasured(g) || (stat == kMean && !s.MeanMeasured(g))) return false;
  seconds = f.ready;
  return true;
}

bool PlateReadyTime(const Summary& s, Stat stat, Group g, double& seconds) {
  const TimeFigure& f = Line(s, stat, g);
  if (!f.present || !s.PlateReadyMeasured(g) || (stat == kMean && !s.MeanMeasured(g))) return false;
  seconds = f.plateReady;
  return true;
}

int64_t RunSeconds(const Run& run) {
  const Stamp start = run.Start(), end = run.End();
  if (!start.valid || !end.valid) return -1;
  const int64_t d = end.Seconds() - start.Seconds();
  return d >= 0 ? d : -1;
}

std::string Duration(int64_t seconds) {
  if (seconds < 0) return {};
  const int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  const auto two = [](int64_t v) { return (v < 10 ? "0" : "") + Integer(v); };
  if (h > 0) return Integer(h) + " h " + two(m) + " min";
  if (m > 0) return Integer(m) + " min " + two(s) + " s";
  return Integer(s) + " s";
}

std::vector<size_t> ComparisonOrder(const std::vector<Run>& runs) {
  std::vector<size_t> order(runs.size());
  std::vector<Stamp> starts(runs.size());
  for (size_t i = 0; i < runs.size(); ++i) order[i] = i, starts[i] = runs[i].Start();
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const Stamp &x = starts[a], &y = starts[b];
    if (x.valid != y.valid) return x.valid;
    return x.valid && x.Seconds() < y.Seconds();
  });
  return order;
}

// --- axes ---------------------------------------------------------------------------

namespace {

double NiceStep(double raw) {
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  const double f = raw / p;
  const double n = f <= 1 + 1e-9 ? 1 : f <= 2 + 1e-9 ? 2 : f <= 5 + 1e-9 ? 5 : 10;
  return n * p;
}

int DecimalsFor(double step) {
  if (step >= 1 - 1e-9) return 0;
  return static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
}

}  // namespace

int Axis::Count() const {
  if (!(step > 0)) return 1;
  const double n = std::floor((hi - lo) / step + 1e-6);
  return static_cast<int>(std::clamp(n, 0.0, 200.0)) + 1;
}

double Axis::Tick(int i) const { return (std::round(lo / step) + i) * step; }

Axis NiceAxis(double lo, double hi, int ticks) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) lo = 0, hi = 1;
  if (hi < lo) std::swap(lo, hi);
  if (hi - lo < 1e-9) lo -= 1, hi += 1;
  Axis a;
  a.step = NiceStep((hi - lo) / std::max(ticks, 1));
  a.lo = std::floor(lo / a.step + 1e-9) * a.step;
  a.hi = std::ceil(hi / a.step - 1e-9) * a.step;
  a.decimals = DecimalsFor(a.step);
  return a;
}

Axis TimeAxis(double hi, bool hours, int ticks) {
  static const double kHours[] = {1, 2, 3, 6, 12, 24, 48, 72, 168, 336, 672};
  static const double kMinutes[] = {1, 2, 5, 10, 15, 20, 30, 60, 120};
  Axis a;
  if (!(hi > 0) || !std::isfinite(hi)) hi = 1;
  a.hi = hi;
  const double raw = hi / std::max(ticks, 1);
  a.step = 0;
  if (hours) {
    for (double s : kHours)
      if (s >= raw - 1e-9) {
        a.step = s;
        break;
      }
  } else {
    for (double s : kMinutes)
      if (s >= raw - 1e-9) {
        a.step = s;
        break;
      }
  }
  if (a.step == 0) a.step = NiceStep(raw);
  return a;
}

// --- path data ------------------------------------------------------------------------

std::string Tenths(long t) {
  if (t % 10 == 0) return Integer(t / 10);
  std::string s = t < 0 ? "-" : "";
  const long a = t < 0 ? -t : t;
  if (a >= 10) s += Integer(a / 10);
  s += '.';
  s += static_cast<char>('0' + a % 10);
  return s;
}

namespace {
long ToTenths(double v) { return std::lround(v * 10); }
}  // namespace

void PathData::Emit(char cmd, long dx, long dy) {
  d_ += cmd;
  if (cmd == 'h') {
    d_ += Tenths(dx);
  } else if (cmd == 'v') {
    d_ += Tenths(dy);
  } else {
    d_ += Tenths(dx);
    const std::string y = Tenths(dy);
    if (y[0] != '-') d_ += ' ';
    d_ += y;
  }
}

void PathData::Flush() {
  if (!pending_) return;
  const long dx = px_ - x_, dy = py_ - y_;
  Emit(dy == 0 ? 'h' : dx == 0 ? 'v' : 'l', dx, dy);
  x_ = px_, y_ = py_;
  pending_ = false;
}

void PathData::MoveTo(double x, double y) {
  Flush();
  const long X = ToTenths(x), Y = ToTenths(y);
  if (d_.empty()) {
    d_ += 'M';
    d_ += Tenths(X);
    d_ += ' ';
    d_ += Tenths(Y);
  } else {
    Emit('m', X - x_, Y - y_);
  }
  x_ = X, y_ = Y;
  open_ = true;
}

void PathData::LineTo(double x, double y) {
  if (!open_) {
    MoveTo(x, y);
    return;
  }
  const long X = ToTenths(x), Y = ToTenths(y);
  if (pending_) {
    const long dx0 = px_ - x_, dy0 = py_ - y_, dx1 = X - px_, dy1 = Y - py_;
    if (dx1 == 0 && dy1 == 0) return;
    // A straight run that goes on the same way: move its end.
    if ((dy0 == 0 && dy1 == 0 && (dx0 > 0) == (dx1 > 0)) || (dx0 == 0 && dx1 == 0 && (dy0 > 0) == (dy1 > 0))) {
      px_ = X, py_ = Y;
      return;
    }
    Flush();
  } else if (X == x_ && Y == y_) {
    return;
  }
  px_ = X, py_ = Y;
  pending_ = true;
}

void PathData::Rect(double x, double y, double w, double h) {
  MoveTo(x, y);
  const long W = ToTenths(x + w) - x_, H = ToTenths(y + h) - y_;
  d_ += 'h' + Tenths(W) + 'v' + Tenths(H) + 'h' + Tenths(-W) + 'z';
}

std::string PathData::Take() {
  Flush();
  std::string d = std::move(d_);
  *this = PathData();
  return d;
}

// --- CSV ----------------------------------------------------------------------------------

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace report::page
