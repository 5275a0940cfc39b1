// Acceptance: a service company's limits for a store, written down once in
// a TOML file, and the judgement of a run against them, criterion by
// criterion. Both are pure: the limits are read from the bytes handed in,
// the judgement from a Run. The page, the CSV, the console's verdict line
// and the printed protocol all show the one Judgement value.
//
// The rule that runs through it: a typo never passes a store. A file that
// does not parse, names a table or key that does not exist, or gives a
// value of the wrong kind or out of range is refused as a whole; a
// criterion whose figure the run cannot give is "not judged", and a run
// with one of those is not accepted.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/ResultFile.h"

namespace report {

// Every criterion a limits file can ask for, in the order the protocol
// lists them. Each is one key of the file (CriterionKey gives its path).
enum Criterion {
  kRunComplete,        // run.complete
  kRunMinHours,        // run.min_hours
  kRunMinAccesses,     // run.min_accesses
  kRunMaxCarPosErrors, // run.max_car_pos_errors
  kRunMaxNotCounted,   // run.max_not_counted
  // Ready, then PlateReady; each for all accesses, loads, unloads; each
  // mean, maximum, 95th percentile. kReadyFirst + 9 * plate + 3 * group + stat.
  kReadyFirst,
  kPlateReadyFirst = kReadyFirst + 9,
  // Per climate value (temperature, humidity, CO2): the share of minutes
  // inside the band and the longest stretch outside it.
  kClimateFirst = kPlateReadyFirst + 9,
  kLineMaxLosses = kClimateFirst + 6,  // line.max_losses
  kLineMaxDownSeconds,                 // line.max_down_s
  kCriterionCount
};

// The three time figures of a group, in the order of the keys.
enum TimeStat { kTimeMean = 0, kTimeMax = 1, kTimeP95 = 2 };
// The climate values, in the order of the keys.
enum ClimateValue { kTemperature = 0, kHumidity = 1, kCo2 = 2 };

constexpr Criterion TimeCriterion(bool plateReady, Group g, TimeStat stat) {
  return Criterion((plateReady ? kPlateReadyFirst : kReadyFirst) + 3 * g + stat);
}
constexpr Criterion InsideShareCriterion(ClimateValue v) { return Criterion(kClimateFirst + 2 * v); }
constexpr Criterion OutsideMinutesCriterion(ClimateValue v) { return Criterion(kClimateFirst + 2 * v + 1); }

// The key's path in the file: "run.min_hours", "ready.load.max_p95_s",
// "climate.co2.max_outside_minutes". The CSV names its columns by it.
std::string CriterionKey(Criterion c);

// A band of a climate value: [low, high], both ends inside.
struct ClimateBand {
  bool given = false;
  double low = 0, high = 0;
};

// The limits as the file gives them.
struct Limits {
  std::string file;  // the name it was read by
  // The limit of each criterion, nothing when it is not asked for. The
  // booleans' limit is 1 (run.complete = true); run.complete is asked for
  // unless the file says false: a run cut short is never accepted by
  // leaving the key out. A band given without min_inside_share or
  // max_outside_minutes asks for every minute inside it (a share of 1).
  std::array<std::optional<double>, kCriterionCount> limit;
  ClimateBand band[3];  // by ClimateValue
  // [store]: texts the protocol prints, UTF-8, empty when not given.
  std::string customer, site, model, order;

  int Asked() const;  // criteria with a limit
};

// Reads a limits file's bytes; `name` is what messages call it. On a
// mistake, false with the line (1-based; 0 when the file as a whole is
// wrong) and the reason in `error`, and `limits` untouched.
bool ReadLimits(std::string_view text, std::string_view name, Limits& limits, Problem& error);

// --- the judgement ------------------------------------------------------------

enum class Outcome { kPassed, kFailed, kNotJudged };

struct CriterionResult {
  Criterion criterion = kRunComplete;
  Outcome outcome = Outcome::kNotJudged;
  // For the reader: what is asked ("Mean Ready time, all accesses"), the
  // limit ("at most 12.0 s"), the figure the run gives ("11.4 s", empty when
  // not judged), the margin to the limit ("+0.6 s" inside, "-0.2 s"
  // outside, empty when not judged or for a yes/no criterion), and, when
  // not judged, why ("no climate reading in the file"; for run.complete
  // failed, the run's incompleteReason). UTF-8.
  std::string asked, limit, figure, margin, why;
  // The same as numbers: the figure and the limit in the criterion's unit
  // (a share as 0..1, run.complete as 0 or 1); figure meaningless when not
  // judged.
  double figureValue = 0, limitValue = 0;
};

struct Judgement {
  bool accepted = false;  // every criterion asked for passed
  std::vector<CriterionResult> criteria;  // those asked for, in Criterion order
  int Passed() const;
  // The first criterion that failed or was not judged; nullptr when accepted.
  const CriterionResult* FirstFailure() const;
};

Judgement Judge(const Run& run, const Limits& limits);

// The 95th percentile of a histogram column, as an upper bound: the upper
// edge of the half-second bin that holds the access of rank ceil(0.95 n)
// (the nearest-rank percentile); the true value lies in that bin, less than
// 0.5 s below the bound. column is 0..2 for Ready by Group, 3..5 for
// PlateReady. False when the column counts nothing.
bool P95UpperBound(const Run& run, int column, double& seconds);

// The console's verdict line: "Acceptance: accepted (14 of 14 criteria)" or
// "Acceptance: NOT accepted: " with the first failing criterion, its figure
// and its limit.
std::string VerdictLine(const Judgement& j);

}  // namespace report
