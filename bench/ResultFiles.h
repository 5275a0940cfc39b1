// Result files as the console writes them: the whole program driven through
// the standard random-access test in-process, on the virtual platform against
// the simulated store, and the file it wrote taken out of the virtual disk.
// For the report's benchmark and for the pages the end-to-end test renders.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/InProcessRun.h"
#include "platform/virtual/Virtual.h"
#include "report/Fields.h"
#include "sim/Harness.h"

// One run: when it starts, how long it goes, the operator's interval, and how
// fast the store's mechanics are (1 is the simulator's standard store; 0.8 a
// store whose every movement takes a quarter longer).
struct ResultRunPlan {
  int year = 2026, month = 12, day = 8;
  int hour = 10, minute = 0;
  double hours = 1;
  int intervalSeconds = 2;
  double speed = 1.0;
  uint32_t seed = 1;  // the store's jitter and climate noise
};

// The result file's lines (without line ends), empty when the run left none.
inline std::vector<std::string> MakeResultFileLines(const ResultRunPlan& plan) {
  sim::Options options;
  options.speed = plan.speed;
  options.seed = plan.seed;
  sim::StorePeer store(sim::DefaultProfile(), options);
  const auto duration = static_cast<uint64_t>(plan.hours * static_cast<double>(kHourUs));
  ScriptRandomAccessRun(store, std::to_string(plan.intervalSeconds), duration, nullptr);
  vt::SetDate(plan.year, plan.month, plan.day);
  vt::SetTimeOfDay(plan.hour, plan.minute, 0, 0);
  RunProgram();
  // A fresh virtual disk each run: the console names its first file _00.
  return vt::FileLines(std::to_string(sim::DefaultProfile().serial) + "_00.spf");
}

// The bytes the POSIX console puts on disk for those lines: each line ends
// in LF.
inline std::string JoinLines(const std::vector<std::string>& lines) {
  std::string bytes;
  size_t size = 0;
  for (const std::string& l : lines) size += l.size() + 1;
  bytes.reserve(size);
  for (const std::string& l : lines) {
    bytes += l;
    bytes += '\n';
  }
  return bytes;
}

// The run as store `serial` would have written it `days` later: the dates
// at the end of each "Quendal AG" line moved on, the serial number of each
// "SNr. # " line replaced (four digits, so the line keeps its width; a
// serial below 0 leaves it as it is). The bytes as JoinLines gives them.
inline std::string RewrittenRun(const std::vector<std::string>& lines, long days, int serial) {
  std::vector<std::string> out = lines;
  const std::string snr = "SNr. # ", number = std::to_string(serial);
  for (std::string& l : out) {
    if (serial >= 0 && l.rfind(snr, 0) == 0 && l.size() >= snr.size() + number.size()) {
      l.replace(snr.size(), number.size(), number);
      continue;
    }
    if (l.rfind("Quendal AG", 0) != 0 || l.size() < 8) continue;
    const std::string date = l.substr(l.size() - 8);
    int y, m, d;
    report::fields::CivilDate(report::fields::DayNumber(2000 + std::atoi(date.c_str() + 6), std::atoi(date.c_str() + 3),
                                                        std::atoi(date.c_str())) +
                                  days,
                              y, m, d);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%02d", d % 100, m % 100, y % 100);
    l.replace(l.size() - 8, 8, buf);
  }
  return JoinLines(out);
}

inline bool WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}
