// The random-access test on the virtual platform: the scripted store of
// tests/support, PlateReady (relay 1815) on as well, nine positions of five
// levels (firmware 7000), serial number 1234, and an operator who answers
// the quit question up to four times.
#pragma once
#include "console/ComponentTests.h"
#include "console/RandomAccess.h"
#include "tests/support/ScriptedStore.h"

class RandomTest : public ScriptedStoreTest {
 protected:
  void SetUp() override {
    relaysOn = {1915, 1815};
    maxQuitAnswers = 4;
    Fresh();
  }

  // Fresh() as the fixture's own: the store as at the start of each test.
  void Fresh() {
    ScriptedStoreTest::Fresh();
    Geometry(7000, 9, 9, 5);
    SerialNumber = 1234;
  }

  // The geometry words as the menu reads them before a test, the level
  // count (DM25) too.
  void Geometry(uint16_t firmware, uint16_t positions, uint16_t firstGroup, uint16_t levels) {
    ScriptedStoreTest::Geometry(firmware, positions, firstGroup, levels);
    dm[25] = std::to_string(levels);
  }

  // Esc is pressed as the controller receives the n-th line that starts
  // with prefix; the quit question that follows gets the next Q.
  void EscAt(const std::string& prefix, int n = 1) {
    int seen = 0;
    onLine = [prefix, n, seen](const std::string& line) mutable {
      if (StartsWith(line, prefix) && ++seen == n) vt::PushKeys("\x1b");
    };
  }

  // Runs the test; false when the key script ran out first.
  bool Run() {
    try {
      RandomAccessTest();
      return true;
    } catch (const vt::ScriptEnd&) {
      return false;
    }
  }

  static int CountLines(const std::string& prefix) {
    int n = 0;
    for (const std::string& line : vt::WrittenLines(1))
      if (StartsWith(line, prefix)) ++n;
    return n;
  }
  // Every screen seen while the operator typed, and the one at the end.
  std::string AllScreens() const {
    std::string s;
    for (const std::string& sc : screens) s += sc;
    return s + WholeScreen();
  }
};
