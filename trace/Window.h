// The time window of --since and --until: which records and exchanges a
// reading keeps. A pure unit.
//
// A bound is written as a time of day ("23:10", "23:10:05", "23:10:05.25")
// or as a date and time ("2026-12-08T23:10:05", with a fraction of up to six
// digits, and "Z" or an offset "+01:00" when it is not local time). A date
// and time without an offset is compared with each record's local time (its
// wall clock moved by its own offset), one with an offset with the records'
// UTC time. A time of day stands for the first such time, to the precision it
// is written in, on or after the run's start (its first record), in the
// local time of that record; an --until given as a time of day counts from
// the --since bound when there is one, so that 23:00 to 01:00 spans
// midnight. The window is half open: --since is in it, --until is not.
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/TraceRecord.h"

namespace trace {

struct TimeBound {
  enum class Kind : uint8_t { kNone, kUtc, kLocal, kTimeOfDay };
  Kind kind = Kind::kNone;
  int64_t us = 0;      // kUtc: since 1970 UTC; kLocal: local time as if UTC; kTimeOfDay: since midnight
  int64_t unitUs = 1;  // kTimeOfDay: the precision it was written in
};

// False when text is no such time.
bool ParseTimeBound(std::string_view text, TimeBound& bound);

struct Window {
  TimeBound since, until;
  // A time of day resolved against the run's start, kept as a local bound.
  TimeBound sinceNow, untilNow;

  // The run's first record: times of day count from it.
  void StartRun(const Record& first);
  // Whether a record (or an exchange that began at its time) is in the window.
  bool Contains(int64_t wallUs, int offsetMinutes) const;
  bool Contains(const Record& r) const { return Contains(r.wallUs, r.offsetMinutes); }
  bool Open() const { return since.kind == TimeBound::Kind::kNone && until.kind == TimeBound::Kind::kNone; }
};

}  // namespace trace
