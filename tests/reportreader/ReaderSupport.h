// What the reader's tests share: result files written by the console's own
// code on the virtual platform (a whole run against the simulated store, or
// the file's writers fed with figures a test chooses), and the console's
// figures they were written from.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "VKT_Lib3/Motion.h"
#include "report/ResultFile.h"

constexpr uint64_t kMinuteUs = 60'000'000ull;

struct ConsoleFile {
  std::vector<std::string> lines;  // the result file, without line ends
  // The console's figures when it wrote the summary.
  uint16_t accessNumber = 0, loadCount = 0, unloadCount = 0;
  HandlingGroup stats[3];
  std::vector<std::array<uint16_t, 6>> bins;  // TimeHistogram, by HistogramColumn
  int32_t waitTime = 0, carPosErrors = 0;

  std::string Bytes(std::string_view eol = "\n") const;
};

// The whole program against the simulated store: start-up with the operator
// name typed as given (empty: "Default User"), the random-access test with
// a 2 s interval, Esc and Q after `durationUs` of store time, the summary.
ConsoleFile RunAgainstStore(uint64_t durationUs, const std::string& operatorName = "");

// The result file as the console writes it, from figures the test sets:
// `setUp` runs after the program's state is reset and may set the operator,
// serial number, firmware, options, clock and statistics; the climate lines
// are written as the status line writes them (four values, RealStr 5.1);
// then the histogram and summary are written as at the end of a run.
ConsoleFile WriteFromFigures(const std::function<void()>& setUp,
                             const std::vector<std::array<double, 4>>& climate = {});

// The statistics as the set-up of a run leaves them: nothing counted.
void ResetStatistics();

// A run of 30 minutes against the store, written once for the tests that
// only read its file.
const ConsoleFile& ShortStoreRun();

report::ReadResult Read(std::string_view bytes);

// Where `part` (a cut or damaged copy of a file) has a figure, it must be
// the one `full` has at the same line: "" when so, else the first figure
// that differs.
std::string Disagreement(const report::Run& part, const report::Run& full);

// The lines joined with the line end, each one ended.
std::string Join(const std::vector<std::string>& lines, std::string_view eol = "\n");

// The figure the console prints for a value: RealStr with one decimal, read
// back.
double Printed(double value);
