// The random-access test on the virtual platform: a scripted controller on
// port 1 that is always ready (PlateReady included) and answers every write
// and relay command with OK, the geometry as the main menu would have read
// it, and an operator who types one step each time the program waits for a
// key and, once the steps are used up, answers every question with Q.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "console/RandomAccess.h"
#include "platform/crt.h"
#include "platform/screen_model.h"
#include "platform/virtual/virtual.h"

// One plate access on the wire: DM0 (as a signed word), DM5 and the relay.
struct WireAccess {
  int pos, level, relay;
  bool operator==(const WireAccess&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const WireAccess& a) {
  return os << "(" << a.pos << "," << a.level << "," << a.relay << ")";
}

inline bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }
inline bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// A plate access command: relay 1904..1909 set.
inline bool IsAccessRelay(const std::string& line) {
  return line.size() == 7 && StartsWith(line, "ST 190") && line[6] >= '4' && line[6] <= '9';
}

inline std::string ScreenRow(int y) {
  std::string r = gScreen.Row(y);
  r.erase(r.find_last_not_of(' ') + 1);
  return r;
}
inline std::string WholeScreen() {
  std::string s;
  for (int y = 1; y <= ScreenModel::kRows; ++y) s += ScreenRow(y) + "\n";
  return s;
}

class RandomTest : public ::testing::Test {
 protected:
  vt::ScriptedPeer peer;
  std::map<int, std::string> dm;                   // DM reads; absent: 00000
  std::map<int, std::string> relays;               // relay reads; absent: 0 (1915 and 1815: 1)
  std::function<void(const std::string&)> onLine;  // each command line received
  std::vector<std::string> screens;                // the screen each time a step was typed
  int quitAnswers = 0;

  void SetUp() override { Fresh(); }

  void Fresh() {
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    dm.clear();
    relays.clear();
    onLine = nullptr;
    screens.clear();
    quitAnswers = 0;
    peer = vt::ScriptedPeer();
    peer.OnAny([this](const std::string& line, vt::ScriptedPeer::Rule& rule) {
      if (onLine) onLine(line);
      rule.answer = AnswerTo(line);
      return true;
    });
    vt::AttachPort(1, &peer);
    ComPort = 1;
    ASSERT_EQ(KvOpenPort(1), 0);
    TextBackground(7);
    TextColor(1);
    ClrScr();
    Geometry(7000, 9, 9, 5);
    SerialNumber = 1234;
  }

  // The geometry words as the menu reads them before a test.
  void Geometry(uint16_t firmware, uint16_t positions, uint16_t firstGroup, uint16_t levels) {
    dm[108] = std::to_string(firmware);
    dm[25] = std::to_string(levels);
    FirmwareVersion = firmware;
    CarPosCount = positions;
    CarPosPerGroup = firstGroup;
    LevelCount = levels;
    LevelPitch = 100;
    LiftBase = 50;
    GroupLiftOffset = 7;
  }

  std::string AnswerTo(const std::string& line) {
    if (line == "CR") return "CC";
    if (line == "CQ") return "CF";
    if (StartsWith(line, "WR ") || StartsWith(line, "ST ") || StartsWith(line, "RS ")) return "OK";
    if (StartsWith(line, "RD DM")) {
      auto it = dm.find(std::atoi(line.c_str() + 5));
      return it == dm.end() ? "00000" : it->second;
    }
    if (StartsWith(line, "RD ")) {
      const int n = std::atoi(line.c_str() + 3);
      auto it = relays.find(n);
      if (it != relays.end()) return it->second;
      return n == 1915 || n == 1815 ? "1" : "0";
    }
    return "E1";
  }

  // Each step is typed when the program waits for a key; after the last one
  // every wait gets a Q, a few times at most, so a test that fails to stop
  // ends (with vt::ScriptEnd) instead of hanging.
  void Keys(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      screens.push_back(WholeScreen());
      if (next_ < steps_.size()) {
        vt::PushKeys(steps_[next_++]);
        return true;
      }
      if (++quitAnswers > 4) return false;
      vt::PushKeys("Q");
      return true;
    });
  }

  // Esc is pressed as the controller receives the n-th line that starts
  // with prefix; the quit question that follows gets the next Q.
  void EscAt(const std::string& prefix, int n = 1) {
    int seen = 0;
    onLine = [prefix, n, seen](const std::string& line) mutable {
      if (StartsWith(line, prefix) && ++seen == n) vt::PushKeys("\x1b");
    };
  }
  void EscAtAccess(int n) {
    int seen = 0;
    onLine = [n, seen](const std::string& line) mutable {
      if (IsAccessRelay(line) && ++seen == n) vt::PushKeys("\x1b");
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

  static std::vector<WireAccess> Accesses() {
    std::vector<WireAccess> out;
    int pos = 0, level = 0;
    for (const std::string& line : vt::WrittenLines(1)) {
      if (StartsWith(line, "WR DM0 ")) pos = static_cast<int16_t>(std::atoi(line.c_str() + 7));
      if (StartsWith(line, "WR DM5 ")) level = std::atoi(line.c_str() + 7);
      if (IsAccessRelay(line)) out.push_back({pos, level, std::atoi(line.c_str() + 3)});
    }
    return out;
  }

  // The wire without the status line's own polls.
  static std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const std::string& line : vt::WrittenLines(1))
      if (line != "RD DM200" && line != "RD 1915") out.push_back(line);
    return out;
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

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};
