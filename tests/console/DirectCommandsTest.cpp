// The direct command console: what typing sends, how answers show, the status
// polls, and what the controller's garbage does (nothing harmful).
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "platform/Crt.h"
#include "tests/console/ConsoleFixture.h"

namespace {

bool IsPoll(const std::string& line) { return line == "RD DM200" || line == "RD 1915" || line.empty(); }

// A controller that never stops talking: one byte a millisecond, cycling
// through all 256 values, or through all but the two line ends.
class StreamingPeer : public vt::SerialPeer {
 public:
  explicit StreamingPeer(bool withLineEnds) : withLineEnds_(withLineEnds) {}
  void OnByte(uint8_t, uint64_t tUs, vt::Sink&) override {
    if (last_ == 0) last_ = tUs;
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override {
    if (last_ == 0) last_ = tUs;
    for (; last_ + 1000 <= tUs; last_ += 1000) {
      uint8_t b = next_++;
      if (!withLineEnds_ && (b == 3 || b == 10)) b = 'x';
      out.Send(last_ + 1000, std::string(1, static_cast<char>(b)));
    }
  }

 private:
  bool withLineEnds_;
  uint64_t last_ = 0;
  uint8_t next_ = 0;
};

}  // namespace

class DirectCommandsTest : public ConsoleTest {
 protected:
  void SetUp() override {
    ConsoleTest::SetUp();
    ComPort = 1;
    SerialNumber = 1234;
    ASSERT_EQ(KvOpenPort(1), 0);
    TextBackground(7);
    TextColor(1);
    Window(10, 1, 70, 25);  // the banner's window, as the menu leaves it
    t0 = vt::NowUs();
  }
  void At(int ms, std::string_view keys) { vt::PushKeysAt(t0 + static_cast<uint64_t>(ms) * 1000, keys); }
  // What went out besides the status polls and their trailing empty lines.
  static std::vector<std::string> Typed() {
    std::vector<std::string> out;
    for (const std::string& l : vt::WrittenLines(1))
      if (!IsPoll(l)) out.push_back(l);
    return out;
  }
  // Work-area text of a screen row (columns 10 to 70), trailing blanks cut.
  static std::string Work(int y) {
    std::string r = gScreen.Text(10, y, 61);
    r.erase(r.find_last_not_of(' ') + 1);
    return r;
  }

  uint64_t t0 = 0;
};

TEST_F(DirectCommandsTest, TypedCommandGoesOutOnceAndItsAnswerShows) {
  peer.On("RD DM200", "00003");
  peer.On("RD 1915", "1");
  peer.On("RD DM0", "00005");
  At(300, "RD DM0\r");
  At(1500, "\x1b");
  DirectCommands();

  EXPECT_EQ(Typed(), std::vector<std::string>{"RD DM0"});
  const std::string wire = vt::WrittenText(1);
  size_t at = wire.find("RD DM0\r");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(wire[at + 7], '\r') << "a typed command carries one CR";

  EXPECT_EQ(Work(2), "Enter direct commands to KV-PLC, press esc to quit");
  EXPECT_EQ(Work(3), "RD DM0");
  EXPECT_EQ(Work(4), "00005");
  for (int y = 5; y <= 25; ++y) EXPECT_EQ(Work(y), "") << "poll answers are not shown, row " << y;

  // The poll answers went to the status line instead.
  EXPECT_EQ(SysStat, 3);
  EXPECT_TRUE(ReadyFlag);
  const std::string status = gScreen.Row(1);
  EXPECT_EQ(status.rfind("Vekton  # 1234", 0), 0u) << status;
  EXPECT_NE(status.find("SysStat $0003"), std::string::npos) << status;
  EXPECT_NE(status.find("Ready 1"), std::string::npos) << status;
  EXPECT_EQ(gScreen.Fg(1, 1), 14);
  EXPECT_EQ(gScreen.Bg(1, 1), 4);
  EXPECT_TRUE(EscAbort) << "Esc is what ends the console";
}

TEST_F(DirectCommandsTest, EditingKeysShortLinesAndTheBell) {
  const unsigned bells = gScreen.bellCount;
  At(200, "\b");              // empty line: bell
  At(300, "RD DM1\b0\r");     // corrected before sending
  At(400, "X\r");             // one character: cleared, not sent
  At(450, "\r");              // empty: not sent
  At(1000, "\x1b");
  DirectCommands();

  EXPECT_EQ(gScreen.bellCount, bells + 1);
  EXPECT_EQ(Typed(), std::vector<std::string>{"RD DM0"});
  EXPECT_EQ(Work(3), "RD DM0");
  EXPECT_EQ(Work(4), "X");
  EXPECT_EQ(Work(5), "");
  EXPECT_EQ(WhereY(), 6) << "each Enter starts a new row";
  EXPECT_EQ(gScreen.Fg(10, 3), 1);
  EXPECT_EQ(gScreen.Bg(10, 3), 7);
}

TEST_F(DirectCommandsTest, LongCommandLineStaysOnItsRow) {
  std::string typed;
  for (int i = 0; i < 7; ++i) typed += "0123456789";
  At(200, typed);
  At(1000, "\x1b");
  DirectCommands();

  EXPECT_EQ(WhereY(), 3);
  EXPECT_EQ(Work(3), typed.substr(10)) << "the tail that fits left of the edge";
  EXPECT_EQ(Work(4), "");
  EXPECT_TRUE(Typed().empty()) << "Esc drops the unsent line";
}

TEST_F(DirectCommandsTest, FramedAndBinaryAnswersShowAsSafeCharacters) {
  peer.On("RD DM200", "00003");
  peer.On("RD 1915", "0");
  peer.On("RD DM0", vt::ScriptedPeer::Rule{"\x02" "12" "\x03\r\n", true});
  peer.On("RD DM1", vt::ScriptedPeer::Rule{std::string("\x00\x01\x1b[2J\xff\x7f\r\n", 10), true});
  At(300, "RD DM0\r");
  At(800, "RD DM1\r");
  At(1500, "\x1b");
  DirectCommands();

  EXPECT_EQ(Work(3), "RD DM0");
  EXPECT_EQ(Work(4), "<12>");
  EXPECT_EQ(Work(5), "RD DM1");
  EXPECT_EQ(Work(6), "***[2J**");
  for (int y = 1; y <= 25; ++y)
    for (int x = 1; x <= 80; ++x) {
      uint8_t c = gScreen.Char(x, y);
      ASSERT_TRUE(c >= 32 && c <= 126) << "cell " << x << "," << y << " holds " << int(c);
    }
}

TEST_F(DirectCommandsTest, LineArrivingWhilePollIsDueIsThePollAnswer) {
  // Polls stay unanswered; the typed command goes out right after the first
  // DM200 poll of the loop, so its answer comes while that poll is due.
  peer.On("RD DM0", "0A042");
  int dm200 = 0;
  peer.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule&) {
    if (line == "RD DM200" && ++dm200 == 2) {
      vt::PushKeysAt(vt::NowUs() + 100000, "RD DM0\r");
      vt::PushKeysAt(vt::NowUs() + 700000, "\x1b");
    }
    return false;
  });
  DirectCommands();

  EXPECT_EQ(Typed(), std::vector<std::string>{"RD DM0"});
  EXPECT_EQ(SysStat, 42) << "non-digits count as 0";
  EXPECT_NE(gScreen.Row(1).find("SysStat $002A"), std::string::npos) << gScreen.Row(1);
  EXPECT_EQ(Work(3), "RD DM0");
  for (int y = 4; y <= 25; ++y) EXPECT_EQ(Work(y), "") << y;
}

TEST_F(DirectCommandsTest, SilentControllerIsPolledTwiceASecondWithoutSpinning) {
  ReadyFlag = true;
  At(5000, "\x1b");
  DirectCommands();  // a loop that never waits would end in vt::Spin

  const std::string wire = vt::WrittenText(1);
  EXPECT_NE(wire.find("RD DM200\r\r"), std::string::npos);
  EXPECT_NE(wire.find("RD 1915\r\r"), std::string::npos);

  // The first line is the entry's own status refresh; then the loop's polls,
  // each followed by the empty line of its second CR.
  std::vector<std::string> lines = vt::WrittenLines(1);
  std::vector<uint64_t> times = vt::WrittenLineTimes(1);
  ASSERT_GE(lines.size(), 19u);
  EXPECT_EQ(lines[0], "RD DM200");
  std::vector<uint64_t> pollTimes;
  for (size_t i = 1; i + 1 < lines.size(); i += 2) {
    EXPECT_EQ(lines[i], pollTimes.size() % 2 == 0 ? "RD 1915" : "RD DM200") << i;
    EXPECT_EQ(lines[i + 1], "") << i;
    pollTimes.push_back(times[i]);
  }
  EXPECT_GE(pollTimes.size(), 9u);
  for (size_t i = 1; i < pollTimes.size(); ++i) {
    uint64_t gapMs = (pollTimes[i] - pollTimes[i - 1]) / 1000;
    EXPECT_GE(gapMs, 500u) << i;
    EXPECT_LE(gapMs, 530u) << i;
  }
  EXPECT_TRUE(ReadyFlag) << "no answer leaves the last value";
}

TEST_F(DirectCommandsTest, EndlessTextWithoutLineEndIsDroppedAndEscStillEnds) {
  peer.On("RD DM0", vt::ScriptedPeer::Rule{std::string(5000, 'A'), true});
  At(300, "RD DM0\r");
  At(2000, "\x1b");
  DirectCommands();
  for (int y = 3; y <= 25; ++y) EXPECT_EQ(Work(y).find('A'), std::string::npos) << y;

  // A controller that never stops sending: only Esc ends the console.
  StreamingPeer stream(false);
  vt::AttachPort(1, &stream);
  ResetKeys();
  At(3000, "\x1b");
  DirectCommands();
  EXPECT_GE(vt::NowUs(), t0 + 3000000);
  for (int y = 3; y <= 25; ++y) EXPECT_EQ(Work(y).find('x'), std::string::npos) << y;
}

TEST_F(DirectCommandsTest, EndlessBinaryLinesNeverReachTheTerminalAsControls) {
  StreamingPeer stream(true);
  vt::AttachPort(1, &stream);
  At(3000, "\x1b");
  DirectCommands();
  for (int y = 1; y <= 25; ++y)
    for (int x = 1; x <= 80; ++x) {
      uint8_t c = gScreen.Char(x, y);
      ASSERT_TRUE(c >= 32 && c <= 126) << "cell " << x << "," << y << " holds " << int(c);
    }
  EXPECT_NE(Screen().find('*'), std::string::npos) << "the lines were shown";
}

TEST_F(ConsoleTest, EscInDirectCommandsReturnsToTheMenuAndQuits) {
  peer.On("RD DM0", "00005");
  Script({"1\r", "\r", "1\r", "0\r"});
  onStep = [](size_t step) {
    if (step == 2) {  // at the menu, before "1" is typed
      vt::PushKeysAt(vt::NowUs() + 400000, "RD DM0\r");
      vt::PushKeysAt(vt::NowUs() + 2000000, "\x1b");
    }
  };
  ASSERT_EQ(RunProgram(), 0);
  EXPECT_EQ(screens.size(), 4u) << "the menu came back after Esc";

  std::vector<std::string> all = Wire();
  // start-up (4), then CR, RD DM109, WR DM123 0, the console, CQ, and the 0.
  ASSERT_GE(all.size(), 4u + 3 + 1 + 1 + 4);
  EXPECT_EQ(all[6], "WR DM123 0");
  std::vector<std::string> console(all.begin() + 7, all.end() - 5);
  int typed = 0;
  for (const std::string& l : console) {
    if (l == "RD DM0") ++typed;
    else EXPECT_TRUE(IsPoll(l)) << l;
  }
  EXPECT_EQ(typed, 1);
  EXPECT_EQ(all[all.size() - 5], "CQ");
  EXPECT_EQ(std::vector<std::string>(all.end() - 4, all.end()),
            (std::vector<std::string>{"CR", "RD DM109", "WR DM123 0", "CQ"}));
}

TEST_F(DirectCommandsTest, IdleConsoleSleepsBetweenPollsYetKeepsTheirPace) {
  peer.On("RD DM200", "00000");
  peer.On("RD 1915", "0");
  At(10'000, "\x1b");
  const uint64_t sleeps = vt::SleepCalls();
  DirectCommands();
  const uint64_t wakeUps = vt::SleepCalls() - sleeps;

  std::vector<uint64_t> polls;
  const auto lines = vt::WrittenLines(1);
  const auto times = vt::WrittenLineTimes(1);
  for (size_t i = 0; i < lines.size(); ++i)
    if (!lines[i].empty()) polls.push_back(times[i]);
  ASSERT_GE(polls.size(), 18u);
  // The first poll of the loop follows the status line's own at once.
  for (size_t i = 2; i < polls.size(); ++i) {
    EXPECT_GT(polls[i] - polls[i - 1], 500'000u) << i;
    EXPECT_LE(polls[i] - polls[i - 1], 520'000u) << i;
  }
  EXPECT_LT(vt::NowUs() - t0, 10'002'000u) << "Esc answered at once";
  // A millisecond at a time would be some 10000 wake-ups.
  EXPECT_LT(wakeUps, 1000u);
}

// Every write purges the line, and the status line's polls share it with the
// operator's commands: a command that goes out while the last one's answer
// is on its way must neither drop that answer nor have its own taken for
// the other's. Enter is pressed at every moment of a poll cycle, against a
// controller that answers at once and one that takes 30 ms (a line across
// the network): each time the typed command's answer shows below it and
// the polls' answers reach only the status line.
TEST_F(DirectCommandsTest, TypedAnswerShowsWhereverEnterFallsInThePollCycle) {
  struct Miss {
    int delayMs, enterMs;
    std::string below, next;
    uint16_t sysStat;
  };
  std::vector<Miss> misses;
  int runs = 0;
  for (int delayMs : {2, 30}) {
    const uint64_t delayUs = static_cast<uint64_t>(delayMs) * 1000;
    peer.On("RD DM200", vt::ScriptedPeer::Rule{"00003", false, false, delayUs});
    peer.On("RD 1915", vt::ScriptedPeer::Rule{"1", false, false, delayUs});
    peer.On("RD DM0", vt::ScriptedPeer::Rule{"00005", false, false, delayUs});
    for (int enterMs = 0; enterMs < 540; ++enterMs) {
      // The keys come relative to the loop's first poll (its CR is followed
      // by an empty line; the entry's status refresh has none).
      int empties = 0;
      peer.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule&) {
        if (line.empty() && ++empties == 1) {
          const uint64_t now = vt::NowUs();
          vt::PushKeysAt(now + static_cast<uint64_t>(enterMs) * 1000, "RD DM0");
          // Enter a moment after the text, as a terminal sends it.
          vt::PushKeysAt(now + static_cast<uint64_t>(enterMs) * 1000 + 500, "\r");
          vt::PushKeysAt(now + 1'300'000, "\x1b");
        }
        return false;
      });
      ResetKeys();
      DirectCommandsInit();
      SysStat = 0;
      ReadyFlag = false;
      DirectCommands();
      ++runs;
      if (Work(3) != "RD DM0" || Work(4) != "00005" || Work(5) != "" || SysStat != 3)
        misses.push_back({delayMs, enterMs, Work(4), Work(5), SysStat});
    }
  }
  for (const Miss& m : misses)
    ADD_FAILURE() << "answer delay " << m.delayMs << " ms, Enter " << m.enterMs
                  << " ms after a poll: below the command \"" << m.below << "\", then \"" << m.next
                  << "\", SysStat " << m.sysStat;
  EXPECT_EQ(runs, 1080);
}
