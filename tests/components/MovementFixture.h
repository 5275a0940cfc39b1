// The movement tests of the component test menu run on their own: a small
// controller with state on port 1, typed lines fed one per blocking key read,
// and Esc injected when the controller hears a chosen command.
#pragma once
#include "ComponentScreenTest.h"

class MovementTest : public ComponentScreenTest {
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
class StoreMovementTest : public ComponentScreenTest {
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
