// The whole program against the simulated store on virtual time: start-up,
// menu choice 7, the standard test for hours, Esc and Q, the summary, and
// the menu's 0. The result file must have its sections in order, a climate
// line a minute, and a summary that agrees with what the store itself
// recorded of every access.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "RandomFixture.h"
#include "bench/InProcessRun.h"
#include "sim/Harness.h"

namespace {

constexpr uint64_t kMinuteUs = 60'000'000;

struct StoreRun {
  int exitCode = -2;
  uint64_t runUs = 0;  // from the file's opening to the Esc
  std::vector<std::string> file;
  std::vector<sim::AccessRecord> records;
};

// Runs the program to menu choice 7, answers the test's questions with
// `dialogue`, lets the test run for `duration` of store time, quits it,
// takes the summary's key and ends with 0.
StoreRun RunTest(uint64_t duration, const std::vector<std::string>& dialogue,
                 const sim::Profile& profile = sim::DefaultProfile()) {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  sim::StorePeer store(profile);
  vt::AttachPort(1, &store);

  StoreRun result;
  uint64_t escAt = 0;
  std::vector<std::string> steps = {"1\r", "\r", "7\r"};
  steps.insert(steps.end(), dialogue.begin(), dialogue.end());
  const size_t last = steps.size() - 1;
  size_t next = 0;
  int after = 0;
  vt::SetKeyFeeder([&] {
    if (next >= steps.size()) {
      // After the Esc: Q for the quit question (the carousel-only test
      // stops on the Esc alone), any key for the summary, 0 at the menu.
      const std::string top = ScreenRow(1), screen = WholeScreen();
      if (++after > 3) return false;
      vt::PushKeys(Contains(top, "Quit/Term ?") ? "Q" : Contains(screen, "Enter [0..6]") ? "0\r" : " ");
      return true;
    }
    vt::PushKeys(steps[next]);
    if (next == last) {
      // The answer to the last question starts the run; Esc comes after
      // the duration (the keys before it are read at once).
      escAt = vt::NowUs() + duration;
      vt::PushKeysAt(escAt, "\x1b");
    }
    ++next;
    return true;
  });
  result.exitCode = RunProgram();
  result.runUs = duration;
  result.file = vt::FileLines(std::to_string(profile.serial) + "_00.spf");
  result.records = store.store().Accesses();
  return result;
}

double Seconds(uint64_t us) { return static_cast<double>(us) / 1e6; }

std::string Centre55(const std::string& title) { return std::string((55 - title.size()) / 2, ' ') + title; }

std::string Pad55(const std::string& left, const std::string& right) {
  return left + std::string(55 - left.size() - right.size(), ' ') + right;
}

// The number after the label of a summary line; -1 when there is none.
double NumberAfter(const std::vector<std::string>& file, const std::string& label) {
  for (const std::string& line : file)
    if (StartsWith(line, label)) return std::atof(line.c_str() + label.size());
  return -1;
}

// The number after a summary label, and the one after "PR".
bool SummaryValues(const std::vector<std::string>& file, const std::string& label, double& ready, double& plate) {
  for (const std::string& line : file) {
    if (!StartsWith(line, label)) continue;
    ready = std::atof(line.c_str() + label.size());
    const size_t pr = line.find("  PR ");
    if (pr == std::string::npos) return false;
    plate = std::atof(line.c_str() + pr + 5);
    return true;
  }
  return false;
}

void CheckLayout(const StoreRun& run) {
  const auto& f = run.file;
  ASSERT_GT(f.size(), 60u);
  const std::string rule(55, '_');
  // Header, blank, climate header with its column line.
  EXPECT_EQ(f[0], rule);
  EXPECT_EQ(f[5], Centre55("System Data Summary"));
  EXPECT_EQ(f[7], Pad55("SNr. # 1234", "Firmware 7.1.20"));
  EXPECT_EQ(f[9], "");
  EXPECT_EQ(f[10], rule);
  EXPECT_EQ(f[15], Centre55("Climate Logging Data (Interal = 60s"));
  EXPECT_EQ(f[19], "Temp  Hmd   CO2   Opt");

  // One 20-character climate line a minute: four readings of a store
  // kept near 37 C whose gate lets some of the warmth and moisture out.
  size_t i = 20;
  size_t climate = 0;
  for (; i < f.size() && !f[i].empty(); ++i, ++climate) {
    ASSERT_EQ(f[i].size(), 20u) << i << ": " << f[i];
    const double temp = std::atof(f[i].substr(0, 5).c_str()), humidity = std::atof(f[i].substr(5, 5).c_str());
    EXPECT_TRUE(temp > 20 && temp < 40) << f[i];
    EXPECT_TRUE(humidity > 30 && humidity <= 100) << f[i];
    EXPECT_EQ(f[i].substr(15), " 21.0") << f[i];
  }
  const double minutes = static_cast<double>(run.runUs) / kMinuteUs;
  EXPECT_LE(static_cast<double>(climate), minutes) << climate << " climate lines in " << minutes << " minutes";
  EXPECT_GE(static_cast<double>(climate), minutes * 0.9) << climate << " climate lines in " << minutes << " minutes";

  // Blank, statistics header, the column lines and the histogram.
  ASSERT_LT(i + 12, f.size());
  EXPECT_EQ(f[i], "");
  EXPECT_EQ(f[i + 1], rule);
  EXPECT_EQ(f[i + 6], Centre55("Handling Times Statistics"));
  EXPECT_EQ(f[i + 10], "Time      Ready             PlateReady");
  EXPECT_EQ(f[i + 11], "[s]   Mean Min. Max.      Mean Min. Max.");
  size_t j = i + 12;
  int histogramAccesses = 0;
  for (; j < f.size() && !f[j].empty(); ++j) {
    ASSERT_EQ(f[j].size(), 40u) << f[j];
    histogramAccesses += std::atoi(f[j].substr(5, 5).c_str());
  }
  EXPECT_GT(histogramAccesses, 0);

  // Blank, summary header, the summary to the end.
  ASSERT_LT(j + 10, f.size());
  EXPECT_EQ(f[j], "");
  EXPECT_EQ(f[j + 1], rule);
  EXPECT_EQ(f[j + 6], Centre55("Complete Test Summary"));
  EXPECT_EQ(f.size(), j + 10 + 23);
  EXPECT_EQ(f[j + 10], Pad55("Access: ", "Including Gate Cycle"));
  EXPECT_EQ(f.back().substr(0, 23), "Mean UnLoad Time:      ");
}

// The summary against the store's own record of each access: the console
// times from the relay's answer to the first Ready it sees, and it sees
// Ready through the status line's polls, about once a second.
void CheckAgainstStore(const StoreRun& run, bool plateReady) {
  // The first access fetched the plate from 1,1 and was not timed.
  ASSERT_GT(run.records.size(), 10u);
  EXPECT_EQ(run.records[0].relay, 1905);
  EXPECT_EQ(run.records[0].dm0, 1);
  std::vector<sim::AccessRecord> timed;
  for (size_t k = 1; k < run.records.size(); ++k)
    if (run.records[k].readyUs != 0 && run.records[k].result == sim::AccessResult::Ok) timed.push_back(run.records[k]);
  // Every access went well; only the last may still run when the test quit.
  for (size_t k = 0; k + 1 < run.records.size(); ++k)
    EXPECT_EQ(run.records[k].result, sim::AccessResult::Ok) << run.records[k].number;

  const double total = NumberAfter(run.file, "Total Accesses:");
  ASSERT_GT(total, 0);
  const size_t counted = static_cast<size_t>(total);
  // Only the access cut short by the quit may be missing from the count.
  EXPECT_TRUE(counted == timed.size() || counted + 1 == timed.size()) << counted << " counted, " << timed.size();
  timed.resize(std::min(counted, timed.size()));

  double minReady = 1e9, maxReady = 0, sumReady = 0, minPlate = 1e9, maxPlate = 0, sumPlate = 0;
  for (const auto& r : timed) {
    const double ready = Seconds(r.readyUs - r.startUs), plate = Seconds(r.plateReadyUs - r.startUs);
    minReady = std::min(minReady, ready), maxReady = std::max(maxReady, ready), sumReady += ready;
    minPlate = std::min(minPlate, plate), maxPlate = std::max(maxPlate, plate), sumPlate += plate;
  }
  const double n = static_cast<double>(timed.size());
  auto near = [](double console, double store, const char* what) {
    // Printed to a tenth; seen up to one poll round late.
    EXPECT_GE(console, store - 0.1) << what;
    EXPECT_LE(console, store + 1.3) << what;
  };
  double ready = 0, plate = 0;
  ASSERT_TRUE(SummaryValues(run.file, "Min. Access Time:", ready, plate));
  near(ready, minReady, "minimum Ready");
  if (plateReady) near(plate, minPlate, "minimum PlateReady");
  ASSERT_TRUE(SummaryValues(run.file, "Max. Access Time:", ready, plate));
  near(ready, maxReady, "maximum Ready");
  if (plateReady) near(plate, maxPlate, "maximum PlateReady");
  ASSERT_TRUE(SummaryValues(run.file, "Mean Access Time:", ready, plate));
  near(ready, sumReady / n, "mean Ready");
  if (plateReady) near(plate, sumPlate / n, "mean PlateReady");
}

}  // namespace

TEST(RandomStore, AStandardRunAgainstTheStoreLeavesACompleteConsistentResultFile) {
  const StoreRun run = RunTest(24 * 60 * kMinuteUs, {"Y", "2\r", "N"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(vt::FileExists("1234_00.line.txt"));  // the line was never lost
  CheckLayout(run);
  CheckAgainstStore(run, true);
}

TEST(RandomStore, TheHandlerOnlyTestTimesEveryAccessOfTheCassetteItFindsAddressed) {
  // Custom: handler only, through the transfer station, no blank level,
  // no tracing, native addressing, 1 s interval, one plate.
  const StoreRun run = RunTest(60 * kMinuteUs, {"N", "H", "Y", "0\r", "N", "N", "-1\r", "1\r", "N"});
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_GT(run.records.size(), 100u);
  // After the plate's fetch from 1,1, DM0 stays as it was: every access is
  // at cassette 1, loads and unloads in turn, on the same level.
  for (size_t k = 1; k < run.records.size(); ++k) {
    const sim::AccessRecord& r = run.records[k];
    EXPECT_EQ(r.dm0, 1) << k;
    EXPECT_EQ(r.relay, k % 2 ? 1904 : 1905) << k;
    if (k % 2 == 0) {
      EXPECT_EQ(r.level, run.records[k - 1].level) << k;
    }
  }
  CheckAgainstStore(run, false);
}

TEST(RandomStore, TheCarrouselOnlyTestMovesAndTimesTheCarrouselAlone) {
  // Custom: carousel only, 10 s interval (a tenth of it waited), one plate.
  const StoreRun run = RunTest(30 * kMinuteUs, {"N", "C", "N", "N", "-1\r", "10\r", "N"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(run.records.empty());  // no plate is touched
  EXPECT_GT(NumberAfter(run.file, "Total Accesses:"), 200);
  EXPECT_EQ(NumberAfter(run.file, "Access Interval [Sec]:"), 10);
  double ready = 0, plate = 0;
  ASSERT_TRUE(SummaryValues(run.file, "Mean Access Time:", ready, plate));
  EXPECT_GT(ready, 0.2);
  EXPECT_LT(ready, 3.0);
}

// The carousel watch reads DM1 about every 0.2 s while a position stands and
// counts an error when position 1 shows without the last position before it.
// The standard store's carousel shows every position long enough to be seen:
// ten minutes of carousel-only moves and ten of the standard test with
// random intervals (which watches the carousel after each access) count no
// error. The fast carousel of the fastcar profile does not: there the count
// works.
TEST(RandomStore, TheCarrouselWatchCountsNoPositionErrorOnTheStandardStore) {
  const StoreRun moves = RunTest(10 * kMinuteUs, {"N", "C", "N", "N", "-1\r", "1\r", "N"});
  EXPECT_EQ(moves.exitCode, 0);
  EXPECT_GT(NumberAfter(moves.file, "Total Accesses:"), 200);
  EXPECT_EQ(NumberAfter(moves.file, "Car. Pos. Errs"), 0);

  // Custom: both, transfer station, no blank level, no tracing, native
  // addressing, random intervals of up to 5 s.
  const StoreRun both = RunTest(10 * kMinuteUs, {"N", "B", "Y", "0\r", "N", "N", "0\r", "5\r", "N"});
  EXPECT_EQ(both.exitCode, 0);
  EXPECT_GT(NumberAfter(both.file, "Total Accesses:"), 20);
  EXPECT_EQ(NumberAfter(both.file, "Car. Pos. Errs"), 0);
  CheckAgainstStore(both, true);
}

TEST(RandomStore, TheFastCarrouselProfileMakesTheWatchCountPositionErrors) {
  const sim::Profile* fast = sim::FindProfile("fastcar");
  ASSERT_NE(fast, nullptr);
  const StoreRun moves = RunTest(10 * kMinuteUs, {"N", "C", "N", "N", "-1\r", "1\r", "N"}, *fast);
  EXPECT_EQ(moves.exitCode, 0);
  EXPECT_GT(NumberAfter(moves.file, "Total Accesses:"), 200);
  EXPECT_GT(NumberAfter(moves.file, "Car. Pos. Errs"), 0);
}
