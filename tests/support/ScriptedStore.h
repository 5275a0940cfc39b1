// The screens that drive the store, on the virtual platform: a scripted
// controller on port 1 that answers by a table (always ready, every write
// and relay command OK), a geometry set as the main menu would have read
// it, and an operator who types one step each time the program waits for a
// key and, once the steps are used up, answers the quit question with Q.
// Plus what the tests read back: the screen, the plate accesses on the wire
// and the commands without the status line's polls.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"

// One plate access as the wire shows it: DM0 (as a signed word), DM5 and
// the relay that started it.
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

// Row y of the screen without its trailing blanks, and all rows, one a line.
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

class ScriptedStoreTest : public ::testing::Test {
 protected:
  vt::ScriptedPeer peer;
  std::map<int, std::string> dm;      // DM reads; absent: 00000
  std::map<int, std::string> relays;  // relay reads; absent: on if in relaysOn, else 0
  // Called with each command line the controller receives.
  std::function<void(const std::string&)> onLine;
  std::vector<std::string> screens;  // the screen each time a step was typed
  int quitAnswers = 0;               // quit questions answered with Q

  // Set by the fixture before Fresh(): the relays that read 1 unless set
  // otherwise, and how many Qs the operator types before giving up.
  std::set<int> relaysOn = {1915};
  int maxQuitAnswers = 3;

  void SetUp() override { Fresh(); }

  // Everything back to the start, the controller attached and the port open.
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
  }

  // The geometry words as the menu reads them before a test.
  void Geometry(uint16_t firmware, uint16_t positions, uint16_t firstGroup, uint16_t levels) {
    dm[108] = std::to_string(firmware);
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
      return relaysOn.count(n) ? "1" : "0";
    }
    return "E1";
  }

  // The operator: each step is typed when the program waits for a key; after
  // the last one every wait gets a Q (the answer to the quit question), a few
  // times at most, so a test that fails to stop ends (with vt::ScriptEnd)
  // instead of hanging.
  void Keys(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      screens.push_back(WholeScreen());
      if (next_ < steps_.size()) {
        vt::PushKeys(steps_[next_++]);
        return true;
      }
      if (++quitAnswers > maxQuitAnswers) return false;
      vt::PushKeys("Q");
      return true;
    });
  }

  // Esc is pressed as the controller receives the n-th plate access command
  // (a relay 1904..1909); it is read while that command is answered.
  void EscAtAccess(int n) {
    int seen = 0;
    onLine = [n, seen](const std::string& line) mutable {
      if (IsAccessRelay(line) && ++seen == n) vt::PushKeys("\x1b");
    };
  }

  // The plate accesses on the wire, each with the DM0 and DM5 written
  // before its relay.
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

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};
