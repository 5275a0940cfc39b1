// The 95th percentile against runs whose every handling time is known: the
// whole console against the simulated store's profiles, each access's Ready
// and PlateReady time taken as the console measured it (in hundredths, the
// moment it was counted into the histogram), and the exact nearest-rank
// percentile of those times compared with the bound the report computes
// from the file's half-second histogram.
//
// The bound: with t the exact nearest-rank 95th percentile (the time of
// rank ceil(0.95 n) among the n times counted), P95UpperBound gives the
// upper edge of t's half-second bin, so t < bound <= t + 0.5 s; it equals
// t + 0.5 s only when t lies on a bin's lower edge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ReaderSupport.h"
#include "VKT_Lib3/Motion.h"
#include "bench/InProcessRun.h"
#include "report/Acceptance.h"
#include "sim/Harness.h"

namespace {

// The store, and beside it a record of each time the console counted into
// its histogram, by the file's columns (Ready all, load, unload, PlateReady
// all, load, unload). The console sends its next command after counting an
// access, so each command line's end is a moment to look.
class WatchedStore : public sim::StorePeer {
 public:
  explicit WatchedStore(const sim::Profile& p, const sim::Options& o) : sim::StorePeer(p, o) {}

  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    sim::StorePeer::OnByte(byte, tUs, out);
    if (byte == '\r') Look();
  }

  std::vector<int32_t> times[6];  // hundredths
  int misplaced = 0;              // times found in another bin than their own

 private:
  // The histogram's columns in the console's order, by the file's.
  static constexpr int kColumn[6] = {kReadyAll, kReadyLoad, kReadyUnload, kPlateAll, kPlateLoad, kPlateUnload};

  void Look() {
    uint64_t now[6] = {};
    for (const auto& bin : TimeHistogram)
      for (int c = 0; c < 6; ++c) now[c] += bin[kColumn[c]];
    for (int c = 0; c < 6; ++c) {
      if (now[c] < seen_[c]) {  // the run's set-up cleared the histogram
        times[c].clear();
        seen_[c] = 0;
      }
      for (; seen_[c] < now[c]; ++seen_[c]) {
        const int32_t t = c < 3 ? ReadyTime : PlateTime;
        times[c].push_back(t);
        if (TimeHistogram[std::clamp<int32_t>(t / 50, 0, kHistogramBins)][kColumn[c]] == 0) ++misplaced;
      }
    }
  }

  uint64_t seen_[6] = {};
};

}  // namespace

TEST(AcceptancePercentile, TheBoundLiesWithinHalfASecondAboveTheExactPercentile) {
  struct Plan {
    const char* profile;
    double speed;
    const char* interval;
  };
  // The standard store, and a store of two carousels and forty cassettes
  // whose mechanics have slowed to 70 %: different times, different spreads.
  for (const Plan& plan : {Plan{"standard", 1.0, "2"}, Plan{"twin", 0.7, "3"}}) {
    SCOPED_TRACE(plan.profile);
    const sim::Profile* profile = sim::FindProfile(plan.profile);
    ASSERT_NE(profile, nullptr);
    sim::Options options;
    options.speed = plan.speed;
    WatchedStore store(*profile, options);
    ScriptRandomAccessRun(store, plan.interval, 3 * kHourUs, nullptr);
    RunProgram();
    const report::ReadResult r = Read(Join(vt::FileLines(std::to_string(profile->serial) + "_00.spf")));
    ASSERT_EQ(r.status, report::ReadStatus::kRead);
    ASSERT_TRUE(r.run.complete) << r.run.incompleteReason;
    EXPECT_EQ(store.misplaced, 0);
    for (int column = 0; column < 6; ++column) {
      SCOPED_TRACE(column);
      std::vector<int32_t> t = store.times[column];
      // Hundreds of accesses, every one of them in the file's rows.
      ASSERT_GT(t.size(), 200u);
      uint64_t inFile = 0;
      for (const report::HistogramRow& row : r.run.histogram)
        inFile += column < 3 ? row.ready[column] : row.plateReady[column - 3];
      ASSERT_EQ(inFile, t.size());
      std::sort(t.begin(), t.end());
      const size_t rank = (95 * t.size() + 99) / 100;
      const double exact = t[rank - 1] / 100.0;
      // The times must spread over more than one bin for this to say much.
      EXPECT_GT(t.back() - t.front(), 50);
      double bound = 0;
      ASSERT_TRUE(report::P95UpperBound(r.run, column, bound));
      EXPECT_GT(bound, exact);
      EXPECT_LE(bound, exact + 0.5);
    }
  }
}
