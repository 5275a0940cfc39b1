// make_result_files DIR COUNT HOURS [FIRST]: result files of the random-access test,
// each made by the console itself in-process against the simulated store and
// then written into DIR byte for byte as the console writes them on Linux.
//
// The runs differ the way a store's monthly checks do: run i starts a week
// after run i - 1 in the evening, goes for HOURS (less 5 or 10 % every
// second and third run), with a fixed interval of 2, 3 or 5 s, and the store
// wears: its mechanics lose 1.5 % of their speed from one run to the next,
// so the report's trend chart has a slope to show. Files are named like the
// console names them in one directory: 1234_00.spf, 1234_01.spf, ... With
// FIRST the series starts at run FIRST (its date, its name): several calls
// then make one series between them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "bench/ResultFiles.h"

namespace {

// Run i of a series, as described above.
ResultRunPlan PlanFor(int i, double hours) {
  ResultRunPlan s;
  // Day numbers from 5 Jan 2026, a Monday, one week apart; the month table
  // turns them back into dates.
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int year = 2026, month = 1, day = 5 + 7 * i;
  for (;;) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    const int inMonth = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
    if (day <= inMonth) break;
    day -= inMonth;
    if (++month > 12) month = 1, ++year;
  }
  s.year = year, s.month = month, s.day = day;
  s.hour = 17 + i % 3;
  s.minute = (i * 13) % 60;
  s.hours = hours * (1.0 - 0.05 * (i % 3));
  static const int kIntervals[] = {2, 3, 2, 5};
  s.intervalSeconds = kIntervals[i % 4];
  s.speed = 1.0 - 0.015 * i;
  if (s.speed < 0.5) s.speed = 0.5;
  s.seed = static_cast<uint32_t>(i + 1);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: make_result_files DIR COUNT HOURS [FIRST]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const int count = std::atoi(argv[2]);
  const double hours = std::atof(argv[3]);
  const int first = argc == 5 ? std::atoi(argv[4]) : 0;
  if (count < 1 || !(hours > 0) || first < 0) {
    std::fprintf(stderr, "make_result_files: COUNT must be 1 or more, HOURS above 0, FIRST not negative\n");
    return 2;
  }
  const std::clock_t c0 = std::clock();
  for (int i = first; i < first + count; ++i) {
    const ResultRunPlan plan = PlanFor(i, hours);
    const std::vector<std::string> lines = MakeResultFileLines(plan);
    if (lines.empty()) {
      std::fprintf(stderr, "make_result_files: run %d left no result file\n", i);
      return 1;
    }
    char name[32];
    std::snprintf(name, sizeof name, "%u_%02d.spf", static_cast<unsigned>(sim::DefaultProfile().serial), i);
    const std::string path = dir + "/" + name;
    if (!WriteFile(path, JoinLines(lines))) {
      std::fprintf(stderr, "make_result_files: %s: %s\n", path.c_str(), std::strerror(errno));
      return 1;
    }
    std::printf("%s  %04d-%02d-%02d %02d:%02d  %.2f h  interval %d s  speed %.3f  %zu lines\n", path.c_str(), plan.year,
                plan.month, plan.day, plan.hour, plan.minute, plan.hours, plan.intervalSeconds, plan.speed,
                lines.size());
  }
  std::printf("%d files, %.1f s of processor time\n", count, static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
  return 0;
}
