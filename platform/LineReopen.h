// How often a serial backend tries to open a lost line again (SerialLineUp):
// at most once a second, counted from when the last try began, not from
// when it ended (a connection may take its 3 s). The same pace for every
// backend, kept here once.
#pragma once
#include <cstdint>

struct LineReopenPace {
  bool tried = false;
  uint64_t lastUs = 0;  // when the last try began

  // True, with the try noted, when a try is due at nowUs (microseconds).
  bool Due(uint64_t nowUs) {
    if (tried && nowUs - lastUs < 1'000'000) return false;
    tried = true;
    lastUs = nowUs;
    return true;
  }
};
