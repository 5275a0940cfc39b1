// The endurance tests and the motion primitives on the virtual platform: a
// scripted controller on port 1 that is always ready and answers every write
// and relay command with OK, a geometry set as the main menu would have read
// it, and an operator who types one step each time the program waits for a
// key and, once the steps are used up, answers the quit question with Q.
#pragma once
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "console/TestSequences.h"
#include "platform/crt.h"
#include "platform/screen_model.h"
#include "platform/system.h"
#include "platform/virtual/virtual.h"

// One plate access as the wire shows it: DM0 (as a signed word), DM5 and
// the relay that started it.
struct WireAccess {
  int pos, level, relay;
  bool operator==(const WireAccess&) const = default;
};
inline std::ostream& operator<<(std::ostream& os, const WireAccess& a) {
  return os << "(" << a.pos << "," << a.level << "," << a.relay << ")";
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

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A plate access command: relay 1904..1909 set.
inline bool IsAccessRelay(const std::string& line) {
  return line.size() == 7 && line.rfind("ST 190", 0) == 0 && line[6] >= '4' && line[6] <= '9';
}

// The accesses of one ThreePlateStep of cassette c (of n) in cassettes of L
// levels, with or without the direct path (relay 1703).
inline void ThreePlateAccesses(std::vector<WireAccess>& out, int c, int n, int L, bool direct) {
  const int next = c < n ? c + 1 : 1;
  for (int i = 1; i <= L - 3; ++i) {
    out.push_back({c, i + 1, 1908});
    out.push_back({c, i + 3, 1909});
    out.push_back({c, i, 1908});
    out.push_back({c, i + 1, 1909});
  }
  if (direct) {
    out.push_back({c, L - 1, 1908});
    out.push_back({next, 3, 1909});
  } else {
    out.push_back({c, L - 1, 1905});
  }
  out.push_back({c, L - 2, 1908});
  out.push_back({next, 1, 1909});
  out.push_back({c, L, 1908});
  out.push_back({next, 2, 1909});
  if (!direct) out.push_back({next, 3, 1904});
}

class SequenceTest : public ::testing::Test {
 protected:
  vt::ScriptedPeer peer;
  std::map<int, std::string> dm;      // DM reads; absent: 00000
  std::map<int, std::string> relays;  // relay reads; absent: 0 (1915: 1)
  // Called with each command line the controller receives.
  std::function<void(const std::string&)> onLine;
  std::vector<std::string> screens;  // the screen each time a step was typed
  int quitAnswers = 0;               // quit questions answered with Q

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
    Geometry(7000, 3, 3, 4);
    dm[109] = "01234";
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
    if (line.rfind("WR ", 0) == 0 || line.rfind("ST ", 0) == 0 || line.rfind("RS ", 0) == 0) return "OK";
    if (line.rfind("RD DM", 0) == 0) {
      auto it = dm.find(std::atoi(line.c_str() + 5));
      return it == dm.end() ? "00000" : it->second;
    }
    if (line.rfind("RD ", 0) == 0) {
      const int n = std::atoi(line.c_str() + 3);
      auto it = relays.find(n);
      if (it != relays.end()) return it->second;
      return n == 1915 ? "1" : "0";
    }
    return "E1";
  }

  // The operator: each step is typed when the program waits for a key; after
  // the last one every wait gets a Q (the answer to the quit question), a few
  // times at most, so a test that fails to stop ends instead of hanging.
  void Keys(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      screens.push_back(Screen());
      if (next_ < steps_.size()) {
        vt::PushKeys(steps_[next_++]);
        return true;
      }
      if (++quitAnswers > 3) return false;
      vt::PushKeys("Q");
      return true;
    });
  }

  // Esc is pressed as the controller receives the n-th plate access command
  // (a relay 1904..1909); it is read while that command is answered.
  void EscAtAccess(int n) {
    int seen = 0;
    onLine = [this, n, seen](const std::string& line) mutable {
      if (IsAccessRelay(line) && ++seen == n) vt::PushKeys("\x1b");
    };
  }

  // The plate accesses on the wire, each with the DM0 and DM5 written
  // before its relay.
  static std::vector<WireAccess> Accesses() {
    std::vector<WireAccess> out;
    int pos = 0, level = 0;
    for (const std::string& line : vt::WrittenLines(1)) {
      if (line.rfind("WR DM0 ", 0) == 0) pos = static_cast<int16_t>(std::atoi(line.c_str() + 7));
      if (line.rfind("WR DM5 ", 0) == 0) level = std::atoi(line.c_str() + 7);
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

  static std::string Screen() { return WholeScreen(); }
  static std::string Line(int y) { return ScreenRow(y); }

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};

// --- the whole program against the simulated store ----------------------------
#include "sim/harness.h"

// The simulated store behind a tap that sees each command line as it ends.
class TappedStore : public vt::SerialPeer {
 public:
  explicit TappedStore(const sim::Profile& profile, const sim::Options& options = {}) : peer_(profile, options) {}
  sim::Store& store() { return peer_.store(); }
  std::function<void(const std::string&)> onLine;
  std::vector<std::string> lines;

  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    peer_.OnByte(byte, tUs, out);
    if (byte != 13) {
      line_.push_back(static_cast<char>(byte));
      return;
    }
    lines.push_back(line_);
    if (onLine) onLine(line_);
    line_.clear();
    // A store that went wrong never gets Ready again, and the console would
    // wait for it for ever: the operator gives up (the test fails instead).
    if (!gaveUp_ && peer_.store().counts().errors > 0) {
      gaveUp_ = true;
      vt::PushKeys("\x1b");
    }
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override { peer_.AdvanceTo(tUs, out); }

 private:
  sim::StorePeer peer_;
  std::string line_;
  bool gaveUp_ = false;
};

// Runs the whole program (start-up, menu, the screen, quit) against a store
// on port 1. The operator types the steps, one per wait for a key.
class StoreRunTest : public ::testing::Test {
 protected:
  std::vector<std::string> screens;  // the screen each time a step was typed

  void Start(TappedStore& store) {
    screens.clear();
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    vt::AttachPort(1, &store);
  }

  int Run(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      screens.push_back(WholeScreen());
      if (next_ >= steps_.size()) return false;
      vt::PushKeys(steps_[next_++]);
      return true;
    });
    try {
      return VektonMain();
    } catch (const vt::ScriptEnd&) {
      return -1;
    }
  }

  // A profile changed for one test.
  static sim::Profile Profile(const char* name) {
    const sim::Profile* p = sim::FindProfile(name);
    EXPECT_NE(p, nullptr) << name;
    return p ? *p : sim::DefaultProfile();
  }

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};
