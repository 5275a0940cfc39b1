// Drift: is a store getting slower? Its newest complete run is compared with
// its own baseline, the complete runs before it (up to five) since the last
// service event that changed its mechanics. It drifts when both hold:
//   - its mean access time is above the baseline runs' median mean by more
//     than a share (10 % unless set), and
//   - its handling times are distributed otherwise than the baseline's
//     beyond chance: the two-sample Kolmogorov-Smirnov test on the Ready
//     times' half-second histograms (the baseline's runs pooled) gives a p
//     value below the significance (1 % unless set).
// The first alone flags a store whose every run differs a little; the
// second alone flags any difference at all in the tens of thousands of
// accesses of a day-long run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/Archive.h"

namespace archive {

struct DriftSettings {
  double share = 0.10;         // of the baseline's median mean
  double significance = 0.01;  // the test's level
  int baselineRuns = 5;
};

struct Drift {
  enum State {
    kNoRun,       // no complete run with a mean access time
    kNoBaseline,  // the newest has no complete run before it (since the event)
    kSteady,      // compared, not drifting
    kDrifting,    // compared, flagged
  } state = kNoRun;
  int64_t newestId = 0;
  std::vector<int64_t> baselineIds;            // oldest first
  double newestMean = 0;                       // s
  double baselineMedian = 0;                   // s
  double rise = 0;                             // newestMean / baselineMedian - 1
  double statistic = 0;                        // the test's D
  double p = 1;                                // and its p value
  int64_t newestCount = 0, baselineCount = 0;  // accesses in the histograms
  // The last mechanics event up to the newest's start, which the baseline
  // begins after; not valid when there was none.
  report::Stamp since;

  bool Flagged() const { return state == kDrifting; }
  // One line of figures: "mean 3.12 s vs 2.61 s (+19.5 %), KS D 0.214,
  // p < 0.0001, 5 runs before" for a comparison; "mean 2.61 s, no earlier
  // complete run [since the event of 2026-11-03] to compare", "no complete
  // run".
  std::string Figures() const;
};

// runs: one store's, by start (as Archive::Runs gives them); events: that
// store's.
Drift FindDrift(const std::vector<StoredRun>& runs, const std::vector<Event>& events,
                const DriftSettings& settings = {});

// The two-sample Kolmogorov-Smirnov test on two histograms of the same
// bins: D, the largest distance of their cumulative shares, and p, its
// asymptotic probability under the same distribution. p is 1 when either
// is empty.
void KolmogorovSmirnov(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, double& d, double& p);

}  // namespace archive
