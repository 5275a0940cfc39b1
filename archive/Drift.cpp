#include "archive/Drift.h"

#include <algorithm>
#include <cmath>

#include "report/PageParts.h"

namespace archive {

namespace {

// A run that can stand in a comparison: complete, with a measured mean, a
// histogram that counted something and a start to place it by.
bool Comparable(const StoredRun& r) {
  if (!r.figures.complete || !(r.figures.mean >= 0) || !r.figures.start.valid) return false;
  for (uint32_t c : r.readyBins)
    if (c > 0) return true;
  return false;
}

uint64_t Total(const std::vector<uint32_t>& bins) {
  uint64_t n = 0;
  for (uint32_t c : bins) n += c;
  return n;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t h = v.size() / 2;
  return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

// The Kolmogorov distribution's tail, Q(x) = 2 sum_{k>=1} (-1)^(k-1)
// exp(-2 k^2 x^2). That alternating series needs many terms and loses its
// digits to cancellation for small x; there the same function is summed in
// its other (Jacobi) form, 1 - sqrt(2 pi) / x sum_{k>=1} exp(-(2k-1)^2 pi^2
// / (8 x^2)), which converges within a few terms. Both agree to the last
// digit near 1.18, where they meet.
double KolmogorovTail(double x) {
  if (!(x > 0.2)) return 1;  // the Jacobi sum is below 1e-12 here
  const double pi = 3.14159265358979323846;
  double q = 0;
  if (x < 1.18) {
    double s = 0;
    for (int k = 1; k <= 6; ++k) {
      const double j = 2.0 * k - 1;
      s += std::exp(-j * j * pi * pi / (8 * x * x));
    }
    q = 1 - std::sqrt(2 * pi) / x * s;
  } else {
    double sign = 1;
    for (int k = 1; k <= 100; ++k) {
      const double term = std::exp(-2.0 * k * k * x * x);
      q += sign * term;
      sign = -sign;
      if (term < 1e-18) break;
    }
    q *= 2;
  }
  return std::clamp(q, 0.0, 1.0);
}

}  // namespace

void KolmogorovSmirnov(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, double& d, double& p) {
  d = 0;
  p = 1;
  const uint64_t n = Total(a), m = Total(b);
  if (n == 0 || m == 0) return;
  // The cumulative shares at each bin's upper edge; a bin one histogram
  // does not reach holds none of its accesses.
  uint64_t ca = 0, cb = 0;
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i < a.size()) ca += a[i];
    if (i < b.size()) cb += b[i];
    d = std::max(d, std::fabs(static_cast<double>(ca) / static_cast<double>(n) -
                              static_cast<double>(cb) / static_cast<double>(m)));
  }
  // The asymptotic distribution with Stephens' correction for the sizes.
  // The times come in half-second bins, so most of them tie: the distance
  // is only looked at on the bins' edges and can come out smaller than the
  // raw times' would, never larger. The p value is then too high rather than
  // too low, which for a flag is the safe side: binning can hide a drift,
  // not invent one.
  const double ne = static_cast<double>(n) * static_cast<double>(m) / (static_cast<double>(n) + static_cast<double>(m));
  const double root = std::sqrt(ne);
  p = KolmogorovTail((root + 0.12 + 0.11 / root) * d);
}

Drift FindDrift(const std::vector<StoredRun>& runs, const std::vector<Event>& events, const DriftSettings& settings) {
  Drift drift;
  // By start, whatever order they came in; runs of the same start keep it.
  std::vector<const StoredRun*> usable;
  for (const StoredRun& r : runs)
    if (Comparable(r)) usable.push_back(&r);
  std::stable_sort(usable.begin(), usable.end(), [](const StoredRun* x, const StoredRun* y) {
    return x->figures.start.Seconds() < y->figures.start.Seconds();
  });
  if (usable.empty()) return drift;

  const StoredRun& newest = *usable.back();
  const int64_t newestStart = newest.figures.start.Seconds();
  drift.newestId = newest.id;
  drift.newestMean = newest.figures.mean;
  drift.newestCount = static_cast<int64_t>(Total(newest.readyBins));

  // The last change to the mechanics up to the newest's start: runs before
  // it measured another machine. Later events belong to later runs.
  bool cut = false;
  int64_t cutAt = 0;
  for (const Event& e : events) {
    if (!e.mechanics || !e.when.valid) continue;
    const int64_t at = e.when.Seconds();
    if (at > newestStart || (cut && at < cutAt)) continue;
    cut = true;
    cutAt = at;
    drift.since = e.when;
  }

  std::vector<const StoredRun*> baseline;  // newest first
  for (size_t i = usable.size() - 1; i-- > 0 && static_cast<int>(baseline.size()) < settings.baselineRuns;) {
    if (cut && usable[i]->figures.start.Seconds() <= cutAt) break;
    baseline.push_back(usable[i]);
  }
  if (baseline.empty()) {
    drift.state = Drift::kNoBaseline;
    return drift;
  }

  std::vector<double> means;
  std::vector<uint32_t> pooled;
  for (auto it = baseline.rbegin(); it != baseline.rend(); ++it) {
    const StoredRun& r = **it;
    drift.baselineIds.push_back(r.id);
    means.push_back(r.figures.mean);
    if (pooled.size() < r.readyBins.size()) pooled.resize(r.readyBins.size(), 0);
    // A bin's sum over five day-long runs stays far below 2^32 accesses;
    // saturate rather than wrap should it ever not.
    for (size_t b = 0; b < r.readyBins.size(); ++b)
      pooled[b] = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{pooled[b]} + r.readyBins[b], UINT32_MAX));
  }
  drift.baselineCount = static_cast<int64_t>(Total(pooled));
  drift.baselineMedian = Median(means);
  drift.rise = drift.baselineMedian > 0 ? drift.newestMean / drift.baselineMedian - 1 : 0;
  KolmogorovSmirnov(newest.readyBins, pooled, drift.statistic, drift.p);
  drift.state = drift.rise > settings.share && drift.p < settings.significance ? Drift::kDrifting : Drift::kSteady;
  return drift;
}

std::string Drift::Figures() const {
  using report::page::Fixed;
  switch (state) {
    case kNoRun: return "no complete run";
    case kNoBaseline: {
      std::string s = "mean " + Fixed(newestMean, 2) + " s, no earlier complete run";
      s += since.valid ? " since the event of " + since.Date() + " to compare" : " to compare";
      return s;
    }
    case kSteady:
    case kDrifting: break;
  }
  const std::string percent = Fixed(rise * 100, 1);
  const size_t before = baselineIds.size();
  return "mean " + Fixed(newestMean, 2) + " s vs " + Fixed(baselineMedian, 2) + " s (" +
         (percent[0] == '-' ? "" : "+") + percent + " %), KS D " + Fixed(statistic, 3) + ", p " +
         (p < 0.0001 ? "< 0.0001" : "= " + Fixed(p, 4)) + ", " + report::page::Integer(static_cast<int64_t>(before)) +
         (before == 1 ? " run" : " runs") + " before";
}

}  // namespace archive
