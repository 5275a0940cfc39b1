// The movement tests of the component test menu run on their own: a small
// controller with state on port 1, typed lines fed one per blocking key read,
// and Esc injected when the controller hears a chosen command.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "platform/crt.h"
#include "platform/screen_model.h"
#include "platform/virtual/virtual.h"
#include "sim/harness.h"

// Typed lines and the screen, shared by both fixtures.
class MovementBase : public ::testing::Test {
 protected:
  // Each blocking key read with nothing queued types the next step.
  void Type(std::vector<std::string> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    vt::SetKeyFeeder([this] {
      if (next_ >= steps_.size()) return false;
      typedAt.push_back(vt::NowUs());
      vt::PushKeys(steps_[next_++]);
      return true;
    });
  }
  size_t StepsTyped() const { return next_; }
  std::vector<uint64_t> typedAt;  // virtual time at which each step was typed

  // Runs one test; false when it asked for a key the script did not have.
  static bool Run(void (*test)()) {
    try {
      test();
      return true;
    } catch (const vt::ScriptEnd&) {
      return false;
    }
  }

  // The commands the test sent, without the status line's polls.
  static std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const std::string& l : vt::WrittenLines(1))
      if (l != "RD DM200" && l != "RD 1915") out.push_back(l);
    return out;
  }
  // Commands whose text starts with one of the prefixes.
  static std::vector<std::string> CommandsOf(std::initializer_list<const char*> prefixes) {
    std::vector<std::string> out;
    for (const std::string& l : Commands())
      for (const char* p : prefixes)
        if (l.rfind(p, 0) == 0) {
          out.push_back(l);
          break;
        }
    return out;
  }
  // The work area's rows without their trailing blanks, empty rows left out.
  static std::vector<std::string> ScreenLines() {
    std::vector<std::string> out;
    for (int y = 2; y <= ScreenModel::kRows; ++y) {
      std::string r = gScreen.Row(y);
      r.erase(r.find_last_not_of(' ') + 1);
      if (!r.empty()) out.push_back(r);
    }
    return out;
  }
  // Virtual time (us) at which the n-th line (0-based) equal to `line` was sent.
  static uint64_t SentAt(const std::string& line, int n) {
    auto lines = vt::WrittenLines(1);
    auto times = vt::WrittenLineTimes(1);
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i] == line && n-- == 0) return times[i];
    return 0;
  }

  // The program's side of port 1 at its start, the screen in the normal
  // colours with the cursor in the work area.
  void StartProgram(vt::SerialPeer* peer) {
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    vt::AttachPort(1, peer);
    ComPort = 1;
    ASSERT_EQ(KvOpenPort(1), 0);
    TextBackground(7);
    TextColor(1);
    ClrScr();
    GotoXY(1, 2);
  }
  void TearDown() override { ComClose(1); }

 private:
  std::vector<std::string> steps_;
  size_t next_ = 0;
};

class MovementTest : public MovementBase {
 protected:
  // The controller: writes and relay commands answer "OK"; the store is
  // Ready while `ready` says so, timers T12/T13 always run out, relay 6901
  // reads `turning`.
  uint16_t firmware = 7104;
  std::map<int, int> dm;           // last value written per DM word
  int endSwitchFrom = 0;           // relay 15/11 reads "1" from this read on (0: never)
  int endSwitchReads = 0;
  std::function<std::string()> turning = [] { return std::string("0"); };
  std::function<bool()> ready = [] { return true; };
  uint64_t relayAnswerUs = 2000;  // from an ST or RS command to its answer
  // Esc is typed when the controller hears `escLine` for the escCount-th time
  // (or escDelayUs later).
  std::string escLine;
  int escCount = 0;
  uint64_t escDelayUs = 0;  // from hearing the line
  std::map<std::string, int> heard;
  // How often the controller has heard a line so far.
  int Heard(const std::string& line) const {
    int n = 0;
    for (const std::string& l : peer.Lines()) n += l == line;
    return n;
  }

  vt::ScriptedPeer peer;

  void SetUp() override {
    peer.OnAny([this](const std::string& line, vt::ScriptedPeer::Rule& rule) {
      rule.answer = Answer(line);
      if (line.rfind("ST ", 0) == 0 || line.rfind("RS ", 0) == 0) rule.delayUs = relayAnswerUs;
      if (!escLine.empty() && line == escLine && ++heard[line] == escCount)
        vt::PushKeysAt(vt::NowUs() + escDelayUs, "\x1b");
      return true;
    });
    StartProgram(&peer);
  }

  std::string Answer(const std::string& line) {
    int a = 0, v = 0;
    if (std::sscanf(line.c_str(), "WR DM%d %d", &a, &v) == 2) {
      dm[a] = v;
      return "OK";
    }
    if (line.rfind("ST ", 0) == 0 || line.rfind("RS ", 0) == 0) return "OK";
    if (line == "RD DM200") return "00000";
    if (line == "RD 1915") return ready() ? "1" : "0";
    if (line == "RD DM108") {
      char t[8];
      std::snprintf(t, sizeof t, "%05u", firmware);
      return t;
    }
    if (line == "RD 15" || line == "RD 11") {
      ++endSwitchReads;
      return endSwitchFrom > 0 && endSwitchReads >= endSwitchFrom ? "1" : "0";
    }
    if (line == "RD T12" || line == "RD T13") return "1,00030,00030";
    if (line == "RD 6901") return turning();
    return "E1";
  }

  void EscOn(const std::string& line, int count, uint64_t delayUs = 0) {
    escLine = line;
    escCount = count;
    escDelayUs = delayUs;
  }
};

// Repeats a command list: {"a","b"} x 2 is {"a","b","a","b"}.
inline std::vector<std::string> Times(std::vector<std::string> v, int n) {
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.insert(out.end(), v.begin(), v.end());
  return out;
}

// The simulated store on port 1, heard line by line on its way in: a test can
// look at the store as each command reaches it, and type Esc on a command.
class StoreMovementTest : public MovementBase {
 protected:
  explicit StoreMovementTest(const sim::Profile& profile = sim::DefaultProfile()) : store(profile) {}

  class Spy : public vt::SerialPeer {
   public:
    explicit Spy(StoreMovementTest& t) : t_(t) {}
    void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
      if (byte == 13) {
        t_.store.store().AdvanceTo(tUs);
        t_.Heard(line_);
        line_.clear();
      } else {
        line_.push_back(static_cast<char>(byte));
      }
      t_.store.OnByte(byte, tUs, out);
    }
    void AdvanceTo(uint64_t tUs, vt::Sink& out) override { t_.store.AdvanceTo(tUs, out); }

   private:
    StoreMovementTest& t_;
    std::string line_;
  };

  void SetUp() override {
    StartProgram(&spy);
    ShortStr answer;
    KvCommRequest(1, answer);
    ASSERT_EQ(answer, "CC");
    vt::ClearWritten(1);
  }

  void EscOn(const std::string& line, int count) {
    escLine_ = line;
    escCount_ = count;
  }
  // Called with each command line as it reaches the store, before it acts.
  std::function<void(const std::string&)> onHeard;

  sim::StorePeer store;
  Spy spy{*this};

 private:
  void Heard(const std::string& line) {
    if (onHeard) onHeard(line);
    if (!escLine_.empty() && line == escLine_ && ++heard_ == escCount_) vt::PushKeys("\x1b");
  }
  std::string escLine_;
  int escCount_ = 0;
  int heard_ = 0;
};
