// Soak: the random-access endurance test for 8 hours of store time (or the
// hours given as the argument), in-process on the virtual platform against
// the simulated store: the whole program from start-up through menu choice
// 7, the standard test with a 1 s interval, Esc and Q, the summary and 0.
//
// Prints, every hour of store time, the program's resident memory and open
// file descriptors (they must stay flat: the test keeps its statistics in
// fixed tables and its one file open), and at the end checks that the
// program's statistics agree with what the store itself counted: accesses,
// loads and unloads, the histogram, the "Total Accesses" of the result
// file, no access refused, and the mean access time against the store's
// own record of each access.
//
// With --trace the line's recorder is on, into a folder of its own with the
// default bound: the trace's megabytes are printed each hour beside the
// memory (the program's memory must stay flat with it too) and the bound
// must hold at the end.
// Usage: soak_bench [hours, 1..168; default 8] [--trace]
#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "VKT_Lib3/Motion.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Trace.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"
#include "bench/InProcessRun.h"

namespace {

// Open file descriptors of this process.
int OpenFds() {
  DIR* d = opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (readdir(d)) ++n;
  closedir(d);
  return n - 3;  // ".", ".." and the directory's own descriptor
}

// Bytes in the trace folder's files (0 without a folder).
std::string gTraceFolder;
uint64_t TraceBytes() {
  if (gTraceFolder.empty()) return 0;
  uint64_t n = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(gTraceFolder, ec)) n += e.file_size(ec);
  return n;
}

struct Sample {
  int hour;
  uint32_t storeAccesses;
  unsigned counted;
  long kb;
  int fds;
  uint64_t traceBytes;
};

// The store, sampled once per hour of store time. The harness's own records
// (bytes written to the virtual port, the store's access records) are taken
// in and dropped as the run goes, so the figures show the program's memory.
class SoakStore : public vt::SerialPeer {
 public:
  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    peer_.OnByte(byte, tUs, out);
    if (byte != 13) return;
    if (++lines_ % 1000 == 0) {
      vt::ClearWritten(1);
      Drain();
    }
    if (start_ != 0 && tUs >= start_ + static_cast<uint64_t>(samples.size()) * kHourUs)
      samples.push_back({static_cast<int>(samples.size()), peer_.store().counts().accesses,
                         static_cast<unsigned>(AccessNumber), ResidentKb(), OpenFds(), TraceBytes()});
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override { peer_.AdvanceTo(tUs, out); }

  void StartClock(uint64_t tUs) { start_ = tUs; }
  const sim::Counts& Counts() const { return peer_.store().counts(); }
  uint64_t Lines() const { return lines_; }
  double MeanAccessSeconds() {
    Drain();
    return timed_ ? static_cast<double>(timedUs_) / timed_ / 1e6 : 0.0;
  }

  std::vector<Sample> samples;

 private:
  // Takes in the finished access records: the time each load and unload at
  // the transfer station took, from its relay command to Ready.
  void Drain() {
    auto& records = peer_.store().Accesses();
    if (records.empty() || records.back().result == sim::AccessResult::Running) return;
    for (const sim::AccessRecord& a : records) {
      if (a.result != sim::AccessResult::Ok || a.readyUs == 0) continue;
      if (a.relay != 1904 && a.relay != 1905) continue;
      timedUs_ += a.readyUs - a.startUs;
      ++timed_;
    }
    peer_.store().ClearAccesses();
  }

  sim::StorePeer peer_;
  uint64_t lines_ = 0;
  uint64_t start_ = 0;
  uint64_t timedUs_ = 0;
  uint64_t timed_ = 0;
};

unsigned HistogramReadyAll() {
  unsigned n = 0;
  for (const auto& bin : TimeHistogram) n += bin[kReadyAll];
  return n;
}

// "Total Accesses:" of the result file, -1 when it has none.
long FileTotal(const std::vector<std::string>& file) {
  for (const std::string& l : file)
    if (l.rfind("Total Accesses:", 0) == 0) return std::atol(l.c_str() + 15);
  return -1;
}

bool Check(bool ok, const char* what) {
  std::printf("  %-64s %s\n", what, ok ? "yes" : "NO");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  using Clock = std::chrono::steady_clock;
  const int hours = argc > 1 ? std::atoi(argv[1]) : 8;
  const bool traced = argc > 2 && std::string(argv[2]) == "--trace";
  if (hours < 1 || hours > 24 * 7 || (argc > 2 && !traced) || argc > 3) {
    std::fprintf(stderr, "usage: soak_bench [hours, 1..168; default 8] [--trace]\n");
    return 2;
  }
  TraceSetup setup;
  if (traced) {
    char tmpl[] = "/tmp/vekton-soak-trace-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    gTraceFolder = tmpl;
    setup.folder = gTraceFolder;
  }
  SoakStore store;
  const uint64_t duration = static_cast<uint64_t>(hours) * kHourUs;
  ScriptRandomAccessRun(store, "1", duration, [&](uint64_t t) { store.StartClock(t); });

  const long startKb = ResidentKb();
  const int startFds = OpenFds();
  const auto t0 = Clock::now();
  if (traced) {
    TraceStart(setup);
    TraceHeader("soak", 1);
  }
  const int code = RunProgram();
  const bool traceWhole = !traced || TraceRecording();
  TraceStop();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  // The report page made when the run ends takes some hundred kB for a
  // moment and gives them back.
  const long endKb = HeldKb();
  const int endFds = OpenFds();

  std::printf("soak: random-access test, %d h of store time in-process (standard test, 1 s interval)\n", hours);
  std::printf("  wall time %.1f s, %llu command lines, program exit code %d\n", wall,
              static_cast<unsigned long long>(store.Lines()), code);
  std::printf("  %5s %10s %10s %10s %6s %10s\n", "hour", "accesses", "counted", "RSS kB", "fds", "trace MB");
  std::printf("  %5s %10s %10s %10ld %6d %10s\n", "start", "-", "-", startKb, startFds, "-");
  for (const Sample& s : store.samples)
    std::printf("  %5d %10u %10u %10ld %6d %10.1f\n", s.hour, s.storeAccesses, s.counted, s.kb, s.fds,
                static_cast<double>(s.traceBytes) / 1048576.0);
  const uint64_t traceEnd = TraceBytes();
  std::printf("  %5s %10u %10u %10ld %6d %10.1f\n", "end", store.Counts().accesses, static_cast<unsigned>(AccessNumber),
              endKb, endFds, static_cast<double>(traceEnd) / 1048576.0);
  if (traced)
    std::printf("  trace: %.1f MB in %s, %.1f MB a day at this rate\n", static_cast<double>(traceEnd) / 1048576.0,
                gTraceFolder.c_str(), static_cast<double>(traceEnd) / 1048576.0 * 24.0 / hours);

  const sim::Counts& c = store.Counts();
  const auto file = vt::FileLines("1234_00.spf");
  const double storeMean = store.MeanAccessSeconds();
  const double consoleMean = AccessNumber ? HandlingStats[kGroupAll].ReadySum / AccessNumber : 0.0;
  std::printf("  store:   %u accesses (%u loads, %u unloads), %u refused\n", c.accesses, c.loads, c.unloads, c.errors);
  std::printf("  console: %u counted (%u loads, %u unloads), histogram %u, file \"Total Accesses\" %ld\n",
              static_cast<unsigned>(AccessNumber), static_cast<unsigned>(LoadCount),
              static_cast<unsigned>(UnloadCount), HistogramReadyAll(), FileTotal(file));
  std::printf("  mean access time: console %.2f s, store %.2f s\n", consoleMean, storeMean);

  // A first-hour sample is the baseline: the start still lacks the pages
  // the run touches once (the screen, the tables).
  const Sample* first = store.samples.size() > 1 ? &store.samples[1] : nullptr;
  bool ok = true;
  ok &= Check(code == 0, "the program ended with 0 through the menu");
  ok &= Check(static_cast<int>(store.samples.size()) >= hours, "one sample per hour of store time");
  ok &= Check(first && endKb <= first->kb + 64, "resident memory flat from the first hour to the end (+64 kB)");
  ok &= Check(endFds == startFds, "open file descriptors at the end as at the start");
  if (traced) {
    ok &= Check(traceWhole, "the recorder recorded to the end");
    ok &= Check(traceEnd > 0 && traceEnd <= setup.maxBytes, "the trace folder within its bound");
    std::error_code ec;
    std::filesystem::remove_all(gTraceFolder, ec);
  }
  ok &= Check(c.errors == 0, "the store refused no access");
  // The store's unloads include the fetch of the plate from 1,1 before the
  // run, which is no timed access; the access the quit came in may have
  // been finished by the store but not counted.
  ok &= Check(LoadCount <= c.loads && c.loads <= LoadCount + 1u, "loads: the program's count is the store's");
  ok &= Check(UnloadCount + 1u <= c.unloads && c.unloads <= UnloadCount + 2u,
              "unloads: the program's count is the store's (less the fetch)");
  ok &= Check(AccessNumber == LoadCount + UnloadCount, "total = loads + unloads");
  ok &= Check(HistogramReadyAll() >= AccessNumber && HistogramReadyAll() <= AccessNumber + 1u,
              "the histogram holds every timed access");
  ok &= Check(FileTotal(file) == static_cast<long>(AccessNumber), "the file's \"Total Accesses\" is the count");
  // The program sees Ready through the status line, which reads relay 1915
  // every other half second: up to a second after the store reports it.
  ok &= Check(consoleMean >= storeMean && consoleMean <= storeMean + 1.1,
              "mean access time within the polling delay of the store's");
  std::printf("  %s\n", ok ? "OK" : "NOT MET");
  return ok ? 0 : 1;
}
