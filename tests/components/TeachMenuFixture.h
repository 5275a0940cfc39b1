// Teach, component test menu, carousel test, error counters and statistics on
// the virtual platform: a small carousel controller with state on port 1, or
// the simulated store, with typed keys fed one step per blocking key read.
#pragma once
#include "ComponentScreenTest.h"

// A carousel controller: DM0 sends the carousel forward round its ring and
// the move lasts moveTime(distance) hundredths of virtual time, during which
// Ready (1915) reads "0" and the T20 contact reads "0". DM words written are
// kept and read back; other DM words read from `dm`.
class CarrouselTest : public ComponentScreenTest {
 protected:
  int positions = 9;
  int pos = 1;
  bool twin = false;  // relay 3012
  std::function<int(int)> moveTime = [](int distance) { return distance == 0 ? 0 : 30 + 10 * distance; };
  uint64_t moveEndUs = 0;
  std::map<int, int> dm;
  // Esc is typed when the controller hears `escLine` for the escCount-th time.
  std::string escLine;
  int escCount = 0;
  std::map<std::string, int> heard;
  // Called with each line as the controller hears it, before it answers.
  std::function<void(const std::string&)> onHeard;

  vt::ScriptedPeer peer;

  void SetUp() override {
    peer.OnAny([this](const std::string& line, vt::ScriptedPeer::Rule& rule) {
      if (onHeard) onHeard(line);
      rule.answer = Answer(line);
      if (!escLine.empty() && line == escLine && ++heard[line] == escCount) vt::PushKeys("\x1b");
      return true;
    });
    StartProgram(&peer);
    CarPosCount = 9;
  }

  bool Moving() const { return vt::NowUs() < moveEndUs; }

  std::string Answer(const std::string& line) {
    int a = 0, v = 0;
    char text[16];
    if (std::sscanf(line.c_str(), "WR DM%d %d", &a, &v) == 2) {
      if (a == 0) {
        const int distance = ((v - pos) % positions + positions) % positions;
        moveEndUs = vt::NowUs() + static_cast<uint64_t>(moveTime(distance)) * 10000;
        pos = v;
      } else {
        dm[a] = v;
      }
      return "OK";
    }
    if (std::sscanf(line.c_str(), "RD DM%d", &a) == 1) {
      const int value = a == 1 ? pos : a == 200 ? 0 : dm[a];
      std::snprintf(text, sizeof text, "%05d", value);
      return text;
    }
    if (line == "RD 1915") return Moving() ? "0" : "1";
    if (line == "RD 3012") return twin ? "1" : "0";
    if (line == "RD T20") return Moving() ? "0,00000,00010" : "1,00010,00010";
    if (line.rfind("ST ", 0) == 0 || line.rfind("RS ", 0) == 0) return "OK";
    return "E1";
  }

  void EscOn(const std::string& line, int count) {
    escLine = line;
    escCount = count;
    heard.clear();
  }
};

// The simulated store on port 1. Every line is heard on its way in, and the
// store is stepped from event to event so that the moment its Ready relay
// comes on is known to the microsecond.
class StoreTest : public ComponentScreenTest {
 protected:
  struct Heard {
    std::string line;
    uint64_t atUs;      // when its CR reached the store
    bool readyBefore;   // the store was Ready as it arrived
  };

  class Watch : public vt::SerialPeer {
   public:
    explicit Watch(StoreTest& t) : t_(t) {}
    void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
      t_.StepTo(tUs);
      if (byte != 13) {
        line_.push_back(static_cast<char>(byte));
        t_.store.OnByte(byte, tUs, out);
        return;
      }
      t_.lines.push_back({line_, tUs, t_.store.store().Ready()});
      AnswerSpy spy(out);
      t_.store.OnByte(byte, tUs, spy);
      t_.NoteReady();
      if (t_.onAnswer) t_.onAnswer(line_, spy.text);
      line_.clear();
    }
    void AdvanceTo(uint64_t tUs, vt::Sink& out) override {
      t_.StepTo(tUs);
      t_.store.AdvanceTo(tUs, out);
    }

   private:
    struct AnswerSpy : vt::Sink {
      explicit AnswerSpy(vt::Sink& out) : out_(out) {}
      void Send(uint64_t atUs, std::string_view bytes) override {
        text.append(bytes);
        out_.Send(atUs, bytes);
      }
      vt::Sink& out_;
      std::string text;
    };
    StoreTest& t_;
    std::string line_;
  };

  explicit StoreTest(const sim::Profile& profile = sim::DefaultProfile()) : store(profile) {}

  void SetUp() override {
    StartProgram(&watch);
    ShortStr answer;
    KvCommRequest(1, answer);
    ASSERT_EQ(answer, "CC");
    CarPosCount = store.store().profile().positions;
    vt::ClearWritten(1);
  }

  void StepTo(uint64_t tUs) {
    sim::Store& s = store.store();
    for (int guard = 0; guard < 100000; ++guard) {
      const uint64_t next = s.NextEventUs();
      if (next > tUs || next <= s.NowUs()) break;
      s.AdvanceTo(next);
      NoteReady();
    }
    if (tUs > s.NowUs()) s.AdvanceTo(tUs);
    NoteReady();
  }
  void NoteReady() {
    const bool ready = store.store().Ready();
    if (ready && !ready_) readyOnUs.push_back(store.store().NowUs());
    ready_ = ready;
  }
  // How long the store took from the command at `atUs` until Ready came on
  // again, in us; 0 when it never went off.
  uint64_t ReadyAfter(uint64_t atUs) const {
    for (uint64_t t : readyOnUs)
      if (t > atUs) return t - atUs;
    return 0;
  }

  sim::StorePeer store;
  std::vector<Heard> lines;
  std::vector<uint64_t> readyOnUs;
  // Called with each command line and its answer text as it leaves the store.
  std::function<void(const std::string&, const std::string&)> onAnswer;
  Watch watch{*this};

 private:
  bool ready_ = true;
};
