#include "ReaderSupport.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "VKT_Lib3/Globals.h"
#include "VKT_Lib3/ScreenText.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "console/Console.h"
#include "console/RandomAccess.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"

namespace {

ConsoleFile Snapshot(std::string_view fileName) {
  ConsoleFile f;
  f.lines = vt::FileLines(fileName);
  f.accessNumber = AccessNumber;
  f.loadCount = LoadCount;
  f.unloadCount = UnloadCount;
  for (int g = 0; g < 3; ++g) f.stats[g] = HandlingStats[g];
  for (const auto& bin : TimeHistogram) {
    std::array<uint16_t, 6> b{};
    std::memcpy(b.data(), bin, sizeof bin);
    f.bins.push_back(b);
  }
  f.waitTime = WaitTime;
  f.carPosErrors = CarPosErrors;
  return f;
}

}  // namespace

std::string ConsoleFile::Bytes(std::string_view eol) const { return Join(lines, eol); }

ConsoleFile RunAgainstStore(uint64_t durationUs, const std::string& operatorName) {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  sim::StorePeer store;
  vt::AttachPort(1, &store);
  const std::vector<std::string> steps = {"1\r", operatorName + "\r", "7\r", "Y", "2\r", "N", "Q", " ", "0\r"};
  vt::SetKeyFeeder([steps, durationUs, next = size_t{0}]() mutable {
    if (next >= steps.size()) return false;
    vt::PushKeys(steps[next]);
    // "N" is the last answer before the run: Esc after the run's time.
    if (steps[next] == "N") vt::PushKeysAt(vt::NowUs() + durationUs, "\x1b");
    ++next;
    return true;
  });
  try {
    VektonMain();
  } catch (const vt::ScriptEnd&) {
  }
  return Snapshot(ResultFileName.view());
}

void ResetStatistics() {
  for (HandlingGroup& g : HandlingStats) {
    g = HandlingGroup{};
    g.ReadyMin = g.PlateMin = INT32_MAX;
  }
  std::memset(TimeHistogram, 0, sizeof TimeHistogram);
  AccessNumber = LoadCount = UnloadCount = 0;
  CarPosErrors = 0;
  WaitTime = 0;
}

ConsoleFile WriteFromFigures(const std::function<void()>& setUp, const std::vector<std::array<double, 4>>& climate) {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  OperatorName = "Default User";
  SerialNumber = 1234;
  FirmwareVersion = 7120;
  ResetStatistics();
  if (setUp) setUp();
  OpenResultFile();
  for (const auto& c : climate)
    WriteResultLine(RealStr(c[0], 5, 1) + RealStr(c[1], 5, 1) + RealStr(c[2], 5, 1) + RealStr(c[3], 5, 1));
  // The summary's key, asked for after the keys typed ahead are dropped.
  vt::SetKeyFeeder([keys = 0]() mutable {
    if (++keys > 2) return false;
    vt::PushKeys(" ");
    return true;
  });
  try {
    RandomAccessSummary();
  } catch (const vt::ScriptEnd&) {
  }
  return Snapshot(ResultFileName.view());
}

const ConsoleFile& ShortStoreRun() {
  static const ConsoleFile f = RunAgainstStore(30 * kMinuteUs);
  return f;
}

report::ReadResult Read(std::string_view bytes) { return report::ReadResultFile(bytes, "1234_00.spf"); }

std::string Join(const std::vector<std::string>& lines, std::string_view eol) {
  std::string s;
  for (const std::string& line : lines) {
    s += line;
    s += eol;
  }
  return s;
}

double Printed(double value) { return std::atof(RealStr(value, 5, 1).str().c_str()); }

// Where a part of a file has a figure, it is the whole file's; "" when so.
std::string Disagreement(const report::Run& part, const report::Run& full) {
  if (part.headers.size() > full.headers.size()) return "more headers";
  for (size_t i = 0; i < part.headers.size(); ++i) {
    const report::Header &a = part.headers[i], &b = full.headers[i];
    if (a.line != b.line || a.title != b.title || a.stamp.Seconds() != b.stamp.Seconds() ||
        a.stamp.valid != b.stamp.valid || a.operatorName != b.operatorName || a.serial != b.serial ||
        a.firmware != b.firmware)
      return "header " + std::to_string(i);
  }
  // Rows and readings by their line: a damaged copy may lack some.
  auto atLine = [](const auto& items, int line) {
    auto it = std::lower_bound(items.begin(), items.end(), line, [](const auto& x, int l) { return x.line < l; });
    return it != items.end() && it->line == line ? &*it : nullptr;
  };
  for (const report::ClimateReading& a : part.climate) {
    const report::ClimateReading* b = atLine(full.climate, a.line);
    if (!b || a.temperature != b->temperature || a.humidity != b->humidity || a.co2 != b->co2 || a.opt != b->opt)
      return "climate line " + std::to_string(a.line);
  }
  for (const report::HistogramRow& a : part.histogram) {
    const report::HistogramRow* b = atLine(full.histogram, a.line);
    if (!b || a.bin != b->bin || !std::equal(a.ready, a.ready + 3, b->ready) ||
        !std::equal(a.plateReady, a.plateReady + 3, b->plateReady))
      return "histogram row " + std::to_string(a.line);
  }
  const report::Summary &s = part.summary, &t = full.summary;
  const std::string* texts[][2] = {
      {&s.access, &t.access},         {&s.cassettes, &t.cassettes},           {&s.plateTrace, &t.plateTrace},
      {&s.addressing, &t.addressing}, {&s.cassetteLevels, &t.cassetteLevels}, {&s.procedure, &t.procedure}};
  for (const auto& p : texts)
    if (!p[0]->empty() && *p[0] != *p[1]) return "summary text " + *p[0];
  if (s.totalAccesses != -1 && s.totalAccesses != t.totalAccesses) return "total accesses";
  if (s.hasIntervalSeconds && (!t.hasIntervalSeconds || s.intervalSeconds != t.intervalSeconds)) return "interval";
  if (s.hasCarPosErrors && (!t.hasCarPosErrors || s.carPosErrors != t.carPosErrors)) return "position errors";
  for (int g = 0; g < 3; ++g) {
    const report::TimeFigure* pairs[][2] = {
        {&s.minimum[g], &t.minimum[g]}, {&s.maximum[g], &t.maximum[g]}, {&s.mean[g], &t.mean[g]}};
    for (const auto& p : pairs)
      if (p[0]->present && (p[0]->ready != p[1]->ready || p[0]->plateReady != p[1]->plateReady))
        return "summary time of group " + std::to_string(g);
  }
  if (s.complete && !t.complete) return "summary complete";
  return "";
}
