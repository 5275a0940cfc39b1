#include "report/Figures.h"

#include "report/PageParts.h"

namespace report {

using namespace page;

RunFigures FiguresOf(const Run& run) {
  RunFigures f;
  f.file = run.file;
  f.serial = run.Serial();
  f.start = run.Start();
  f.end = run.End();
  f.seconds = RunSeconds(run);
  f.climateLines = static_cast<int64_t>(run.climate.size());
  f.firmware = run.Firmware();
  f.operatorName = run.OperatorName();
  f.complete = run.complete;
  f.incompleteReason = run.incompleteReason;
  const Summary& s = run.summary;
  f.totalAccesses = s.totalAccesses;
  f.carPosErrors = s.carPosErrors;
  f.uncounted = run.UncountedAccesses();
  f.problems = static_cast<int64_t>(run.problems.size());
  f.lineLosses = run.lineLosses;
  f.lineDownSeconds = run.lineDownSeconds;
  const auto time = [&](Stat st, Group g, double& v) {
    if (!ReadyTime(s, st, g, v)) v = -1;
  };
  time(kMean, kAll, f.mean);
  time(kMax, kAll, f.max);
  time(kMin, kAll, f.min);
  time(kMean, kLoad, f.loadMean);
  time(kMean, kUnload, f.unloadMean);
  return f;
}

const char* Standing(const RunFigures& f) {
  if (!f.complete || f.carPosErrors > 0) return "bad";
  // Stopping a run cuts its last access short: that one is binned but not
  // counted in most runs. Only more than one is worth a warning.
  if (f.uncounted > 1 || f.problems > 0 || f.lineLosses > 0) return "warn";
  return "ok";
}

std::string Marks(const RunFigures& f) {
  std::string marks = f.complete ? "complete" : "incomplete";
  if (f.carPosErrors > 0) marks += ", " + Integer(f.carPosErrors) + (f.carPosErrors == 1 ? " error" : " errors");
  // One access not counted is the one the stop cut short, in most runs: the
  // run's own section tells about it.
  if (f.uncounted > 1) marks += ", \xE2\x89\xA5" + Integer(f.uncounted) + " not counted";
  if (f.problems > 0) marks += ", " + Integer(f.problems) + " damaged";
  if (f.lineLosses > 0) marks += ", line lost " + (f.lineLosses == 1 ? std::string("once") : Integer(f.lineLosses) + " times");
  return marks;
}

}  // namespace report
