// libFuzzer entry point; the check itself lives in fuzz/checks/ so that the
// regression test replays the same rules on every saved finding.
#include "fuzz/checks/FuzzChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CheckLimits(data, size);
  return 0;
}
