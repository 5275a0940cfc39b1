// A run in figures: what a row of a comparison, a point of a trend and an
// archive's record of the run hold, taken from the run once. The report's
// comparison and the archive's pages are made from these, so a run shows
// the same marks and times wherever it is listed.
#pragma once
#include <cstdint>
#include <string>

#include "report/ResultFile.h"

namespace report {

struct RunFigures {
  std::string file;          // the name the file was given by
  int64_t serial = -1;       // -1 when the first header has none
  Stamp start, end;          // Run::Start(), Run::End()
  int64_t seconds = -1;      // from first to last header, -1 unknown
  int64_t climateLines = 0;  // the length of a run cut short, at least
  std::string firmware;      // code page 437 bytes, as the file has them
  std::string operatorName;  // code page 437 bytes
  bool complete = false;
  std::string incompleteReason;
  int64_t totalAccesses = -1, carPosErrors = -1;
  int64_t uncounted = 0;  // Run::UncountedAccesses()
  int64_t problems = 0;   // lines that did not parse
  int64_t lineLosses = -1, lineDownSeconds = -1;
  // Ready times of the summary in seconds, -1 where the file has no
  // measured time (see page::ReadyTime).
  double mean = -1, max = -1, min = -1, loadMean = -1, unloadMean = -1;
};

RunFigures FiguresOf(const Run& run);

// How a run stands: "bad" (cut short or carousel position errors), "warn"
// (more than the one access a stop cuts short not counted, damaged lines,
// the line lost) or "ok".
const char* Standing(const RunFigures& f);
// The marks of a run in a word or two each, worst first: "complete",
// "incomplete, 3 errors, line lost once".
std::string Marks(const RunFigures& f);

}  // namespace report
