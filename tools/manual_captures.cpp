// The screens of the technician's manual (docs/MANUAL.md), taken from the
// program itself: the whole console runs in-process on the virtual platform
// against the simulated store (standard profile), and each screen is written
// as it stood, 80 x 25, to OUTDIR/NAME.txt (UTF-8, trailing blanks cut).
//
// Everything is deterministic: the virtual clock starts at 10:00:00 on
// 8 Dec 2026 and only moves while the program waits, the store's jitter and
// the console's random numbers come from fixed seeds. So the clock on the
// status line, the counters and the times are the same on every run, and a
// capture changes only when the program's screens change.
//
// The direct-commands scenario runs with the line's recorder on: the start of
// its trace file and what vekton-trace --exchanges makes of it are captures
// too (trace-records, trace-exchanges).
//
// Usage: manual_captures OUTDIR     (tools/manual_captures.sh runs it)
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "VKT_Lib3/VKT_Lib3.h"
#include "bench/InProcessRun.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/Trace.h"
#include "platform/virtual/Virtual.h"
#include "report/ResultFile.h"
#include "sim/Harness.h"
#include "trace/Cli.h"

namespace {

// A line of code page 437 as the technician sees it: Unicode, the blanks at
// its end cut.
std::string Shown(const std::string& cp437) {
  std::string row = report::Cp437ToUtf8(cp437);
  row.erase(row.find_last_not_of(' ') + 1);
  return row;
}

// The screen: its 25 rows.
std::string ScreenText() {
  std::string all;
  for (int y = 1; y <= ScreenModel::kRows; ++y) all += Shown(gScreen.Row(y)) + "\n";
  return all;
}

bool ScreenHas(const std::string& marker) {
  for (int y = 1; y <= ScreenModel::kRows; ++y)
    if (gScreen.Row(y).find(marker) != std::string::npos) return true;
  return false;
}

// One step of a scenario: once the screen shows `marker` (and at least
// `afterSeconds` of virtual time have passed since the step before), the
// screen is kept as capture `capture` (if named) and `keys` are typed.
struct Step {
  Step(std::string m, std::string k, std::string c = "", double after = 0)
      : marker(std::move(m)), keys(std::move(k)), capture(std::move(c)), afterSeconds(after) {}
  std::string marker;
  std::string keys;
  std::string capture;
  double afterSeconds;
};

struct Scenario {
  std::string name;
  std::vector<Step> steps;
  sim::PlateLayout plates = sim::PlateLayout::One;
};

// The store, with a look at the screen each time the program writes a byte
// or waits for one: screens that never wait for a key (a test at work) are
// taken while the program talks to the store.
class Driver : public vt::SerialPeer {
 public:
  Driver(const Scenario& s, const std::string& outDir)
      : scenario_(s), outDir_(outDir), store_(sim::DefaultProfile(), Options(s.plates)) {}

  static sim::Options Options(sim::PlateLayout plates) {
    sim::Options o;
    o.plates = plates;
    return o;
  }

  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    store_.OnByte(byte, tUs, out);
    Look();
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override {
    store_.AdvanceTo(tUs, out);
    Look();
  }

  // At a key wait with no key queued: the step must be due now.
  bool AtKeyWait() {
    if (next_ >= scenario_.steps.size()) return false;
    const size_t before = next_;
    Look();
    return next_ > before && vt::PendingKeys() > 0;
  }

  bool Done() const { return next_ >= scenario_.steps.size(); }
  size_t next() const { return next_; }
  bool failed = false;

 private:
  void Look() {
    if (next_ >= scenario_.steps.size() || vt::PendingKeys() > 0) return;
    const Step& s = scenario_.steps[next_];
    if (static_cast<double>(vt::NowUs() - stepStartUs_) < s.afterSeconds * 1e6) return;
    if (!s.marker.empty() && !ScreenHas(s.marker)) return;
    if (!s.capture.empty()) {
      std::ofstream f(outDir_ + "/" + s.capture + ".txt", std::ios::binary);
      f << ScreenText();
      if (!f) failed = true;
    }
    ++next_;
    stepStartUs_ = vt::NowUs();
    if (!s.keys.empty()) vt::PushKeys(s.keys);
  }

  const Scenario& scenario_;
  std::string outDir_;
  sim::StorePeer store_;
  size_t next_ = 0;
  uint64_t stepStartUs_ = 0;
};

// Start-up: port 1, the default operator name.
std::vector<Step> StartUp() { return {{"Enter Port Number to Vekton", "1\r"}, {"Enter Operator Name", "\r"}}; }

std::vector<Scenario> Scenarios() {
  auto with = [](std::vector<Step> more) {
    std::vector<Step> all = StartUp();
    all.insert(all.end(), more.begin(), more.end());
    all.push_back({"Enter [0..6]", "0\r"});
    return all;
  };
  const std::string esc = "\x1b";
  return {
      {"start-up",
       {{"Enter Port Number to Vekton", "1\r", "start-up-port"},
        {"Enter Operator Name", "\r"},
        {"Enter [0..6]", "0\r", "main-menu"}}},
      // Port 2 is not there: the open fails at start-up and again at the
      // menu's choice.
      {"port-error",
       {{"Enter Port Number to Vekton", "2\r"},
        {"Enter Operator Name", "\r"},
        {"Invalid Port Number", "x", "port-error"},
        {"Enter [0..6]", "0\r"},
        {"Invalid Port Number", "x"}}},
      {"direct-commands",
       with({{"Enter [0..6]", "1\r"},
             {"Enter direct commands to KV-PLC", "RD DM109\r", "", 1},
             {"01234", esc, "direct-commands", 2}})},
      {"monitor-flags", with({{"Enter [0..6]", "2\r"}, {"Set.Spd. DM91", esc, "monitor-flags", 3}})},
      {"macros", with({{"Enter [0..6]", "3\r"}, {"Please Select ->", esc, "macros", 1}})},
      // The carousel movement test compares each move with the taught
      // times: teach them first, as a technician does.
      {"components",
       with({{"Enter [0..6]", "4\r"},
             {"ZEZ Positioning Times:", "x", "teach"},
             {"Enter [0..6]", "5\r"},
             {"Select now", "1", "component-menu"},
             {"Enter Pause range", "0\r"},
             {" Pth: ", esc, "component-carousel", 20},
             {"Quit/Term ?", "Q", "quit-question"},
             {"Rotation Access Time Summary", "x", "component-carousel-summary"},
             {"Select now", "8"},
             {"Reset Counter [Y/N]", "n", "error-counters"},
             {"Select now", esc}})},
      {"all-slots",
       with({{"Enter [0..6]", "6\r"},
             {"Standard Test [Y/Q/N]", "Y"},
             {"Inverse Mode [Y/N]", "N"},
             {"Cyc ", esc, "all-slots", 60},
             {"Quit/Term ?", "Q"}})},
      {"random-access",
       with({{"Enter [0..6]", "7\r"},
             {"Standard Test [Y/N]", "Y"},
             {"Enter Interval Time (>1sec)", "1\r"},
             {"Invers. Mode [Y/N]", "N", "random-access-setup"},
             {"At ", esc, "random-access", 120},
             {"Quit/Term ?", "Q"},
             {"Mean UnLoad Time:", "x", "random-access-summary"}})},
      {"three-plate",
       {StartUp()[0], StartUp()[1], {"Enter [0..6]", "8\r"}, {"OK OK OK", esc, "three-plate", 60},
        {"Quit/Term ?", "Q"}, {"Enter [0..6]", "0\r"}},
       sim::PlateLayout::Three},
      {"statistics",
       with({{"Enter [0..6]", "S\r"},
             {"Enter Passord", "QZRB\r", "statistics-password"},
             {"System Hobs [hours]", "x", "statistics"}})},
  };
}

// Runs one scenario from program start to the menu's 0.
bool Run(const Scenario& s, const std::string& outDir) {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  Driver driver(s, outDir);
  vt::AttachPort(1, &driver);
  vt::SetKeyFeeder([&] { return driver.AtKeyWait(); });
  const bool traced = s.name == "direct-commands";
  const std::string traceDir = outDir + "/trace";
  if (traced) {
    TraceSetup setup;
    setup.folder = traceDir;
    TraceStart(setup);
  }
  const int code = RunProgram();
  if (traced) {
    const std::string path = TraceFilePath();
    TraceStop();
    // The trace's start: the start-up's exchanges up to the choice.
    std::ifstream in(path, std::ios::binary);
    std::ofstream f(outDir + "/trace-records.txt", std::ios::binary);
    std::string line;
    for (int n = 0; n < 16 && std::getline(in, line); ++n) f << line << "\n";
    // The exchanges up to the command typed.
    std::ostringstream out, err;
    const int status = trace::TraceMain({"--trace", traceDir, "--exchanges"}, out, err, "");
    std::istringstream exchanges(out.str());
    std::ofstream g(outDir + "/trace-exchanges.txt", std::ios::binary);
    for (int n = 0; n < 12 && std::getline(exchanges, line); ++n) g << line << "\n";
    if (path.empty() || !f || status != 0) driver.failed = true;
    std::error_code ec;
    std::filesystem::remove_all(traceDir, ec);
  }
  // The random-access test's result file, as the console wrote it.
  if (s.name == "random-access") {
    std::ofstream f(outDir + "/result-file.txt", std::ios::binary);
    for (const std::string& line : vt::FileLines("1234_00.spf")) f << Shown(line) << "\n";
    if (!f) driver.failed = true;
  }
  if (!driver.Done() || code != 0 || driver.failed) {
    std::cerr << "manual_captures: scenario " << s.name << " stuck before step " << driver.next() + 1
              << " (exit " << code << "); the screen:\n"
              << ScreenText();
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: manual_captures OUTDIR\n";
    return 2;
  }
  bool ok = true;
  for (const Scenario& s : Scenarios()) ok = Run(s, argv[1]) && ok;
  return ok ? 0 : 1;
}
