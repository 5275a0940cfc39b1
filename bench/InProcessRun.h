// What the in-process benchmarks share: the process's own resident memory,
// and the whole program driven through the random-access test on the
// virtual platform (start-up on COM1, menu choice 7, the standard test with
// the given interval, then Esc after the given store time, Q, the summary's
// key and 0).
#pragma once
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/virtual/Virtual.h"

constexpr uint64_t kHourUs = 3'600'000'000ull;

// Anonymous resident memory in kB, from the kernel's view of this process:
// the heap and the stacks, what grows when the program keeps what it should
// not. Code pages are left out: they come in as code runs for the first time
// (the report page at the end of a run, say) and say nothing of leaks.
inline long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("RssAnon:", 0) == 0) return std::atol(line.c_str() + 8);
  return -1;
}

// The same once the allocator has given back what was freed (it keeps freed
// memory for later unless asked): what the program still holds.
inline long HeldKb() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
  return ResidentKb();
}

// Sets up the virtual machine with the store on port 1 and the operator's
// keys: `interval` (seconds, as typed) for the standard test, Esc once
// `durationUs` of store time has passed after the run began. `onRunStart`
// is called with the virtual time the run begins.
inline void ScriptRandomAccessRun(vt::SerialPeer& store, const std::string& interval, uint64_t durationUs,
                                  std::function<void(uint64_t)> onRunStart) {
  vt::Reset();
  InitAllUnits();
  ResetKeys();
  GetScreenSize();
  vt::AttachPort(1, &store);
  const std::vector<std::string> steps = {"1\r", "\r", "7\r", "Y", interval + "\r", "N", "Q", " ", "0\r"};
  vt::SetKeyFeeder([steps, durationUs, onRunStart, next = size_t{0}]() mutable {
    if (next >= steps.size()) return false;
    vt::PushKeys(steps[next]);
    if (steps[next] == "N") {
      if (onRunStart) onRunStart(vt::NowUs());
      vt::PushKeysAt(vt::NowUs() + durationUs, "\x1b");
    }
    ++next;
    return true;
  });
}

// Runs the program as scripted; its exit code, or -1 when the keys ran out.
inline int RunProgram() {
  try {
    return VektonMain();
  } catch (const vt::ScriptEnd&) {
    return -1;
  }
}
