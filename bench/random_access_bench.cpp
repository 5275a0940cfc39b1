// The random-access endurance test, in-process, for 24 hours of store time:
// the whole program (start-up, menu choice 7, the standard test, Esc and Q,
// the summary, 0) on the virtual platform against the simulated store.
// Prints the wall time of the run (target: under 60 s on one core) and the
// program's resident memory at the start, after the first hour and at the
// end (it must not grow: the test keeps its statistics in fixed tables).
//
// The harness itself keeps what it is told: every byte written to the
// virtual port and every access the store performed. Both are dropped as
// the run goes, so that the figures show the program's memory.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "VKT_Lib3/Motion.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"
#include "bench/InProcessRun.h"

namespace {

// The store, with the harness's records dropped every thousand lines once
// no access is under way.
class BenchStore : public vt::SerialPeer {
 public:
  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    peer_.OnByte(byte, tUs, out);
    if (byte != 13 || ++lines_ % 1000 != 0) return;
    vt::ClearWritten(1);
    auto& records = peer_.store().Accesses();
    if (!records.empty() && records.back().result != sim::AccessResult::Running) {
      accesses_ += records.size();
      peer_.store().ClearAccesses();
    }
    if (firstHourKb_ < 0 && tUs >= start_ + kHourUs) firstHourKb_ = ResidentKb();
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override { peer_.AdvanceTo(tUs, out); }

  void StartClock(uint64_t tUs) { start_ = tUs; }
  uint64_t Accesses() { return accesses_ + peer_.store().Accesses().size(); }
  uint64_t Lines() const { return lines_; }
  long FirstHourKb() const { return firstHourKb_; }

 private:
  sim::StorePeer peer_;
  uint64_t lines_ = 0;
  uint64_t accesses_ = 0;
  uint64_t start_ = UINT64_MAX / 2;
  long firstHourKb_ = -1;
};

}  // namespace

int main() {
  using Clock = std::chrono::steady_clock;
  BenchStore store;
  const uint64_t duration = 24 * kHourUs;
  ScriptRandomAccessRun(store, "2", duration, [&](uint64_t t) { store.StartClock(t); });

  const long startKb = ResidentKb();
  const auto t0 = Clock::now();
  const int code = RunProgram();
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const long endKb = HeldKb();

  const auto file = vt::FileLines("1234_00.spf");
  std::printf("random-access test, 24 h of store time in-process (standard test, 2 s interval)\n");
  std::printf("  program exit code      %d\n", code);
  std::printf("  wall time              %.2f s (target under 60 s)\n", wall);
  std::printf("  store accesses         %llu, %llu command lines\n", static_cast<unsigned long long>(store.Accesses()),
              static_cast<unsigned long long>(store.Lines()));
  std::printf("  timed accesses counted %u\n", static_cast<unsigned>(AccessNumber));
  std::printf("  result file lines      %zu\n", file.size());
  std::printf("  resident memory        start %ld kB, after 1 h %ld kB, end %ld kB\n", startKb, store.FirstHourKb(),
              endKb);
  const bool ok = code == 0 && wall < 60.0 && store.FirstHourKb() > 0 && endKb <= store.FirstHourKb() + 64;
  std::printf("  %s\n", ok ? "OK" : "NOT MET");
  return ok ? 0 : 1;
}
