// Every numeric prompt of the program, reached through the menus as the
// operator reaches it, against the simulated store: letters, lone signs,
// numbers beyond 32 bits, overlong lines and pasted control bytes are
// answered on the screen and asked for again, and the controller sees
// exactly what it sees when the operator leaves the prompt at once.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "VKT_Lib3/Globals.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "console/NumberPrompt.h"
#include "platform/ScreenModel.h"
#include "platform/virtual/Virtual.h"
#include "sim/Harness.h"

namespace {

// One blocking key read of the program: the text the cursor's row must show
// (the prompt being asked), optionally a text the row above must show (the
// answer to the line before), and the keys then typed; `later` is typed two
// seconds on (a key for a screen that polls the keyboard instead of waiting).
struct Step {
  Step(std::string p, std::string k, std::string a = "", std::string l = "")
      : prompt(std::move(p)), keys(std::move(k)), above(std::move(a)), later(std::move(l)) {}
  std::string prompt;
  std::string keys;
  std::string above;
  std::string later;
};
using Steps = std::vector<Step>;

const Steps kStart = {{"Enter Port Number to Vekton", "1\r"}, {"Enter Operator Name", "\r"}};
const Step kQuit = {"Enter [0..6]", "0\r"};

// Entries that are no whole number of 32 bits, each answered by
// kNotANumberText.
const std::vector<std::string> kNotNumbers = {
    "abc", "-", "+", "--5", "12x", "1.5", "0x10", "1 2", " ", "", "99999999999", "2147483648", "-2147483649",
    std::string(300, '9'),  // the line input stops at 255 with the bell
    "7\x7f",                // DEL is a key, not a digit
};

// The simulated store, and a limit on virtual time: a screen that polls the
// keyboard instead of waiting for a key would otherwise run for ever when a
// step of the script does not fit it.
struct TimeLimit : std::runtime_error {
  TimeLimit() : std::runtime_error("virtual time limit") {}
};
class GuardedStore : public sim::StorePeer {
 public:
  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    if (tUs > kLimitUs) throw TimeLimit();
    StorePeer::OnByte(byte, tUs, out);
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override {
    if (tUs > kLimitUs) throw TimeLimit();
    StorePeer::AdvanceTo(tUs, out);
  }

 private:
  static constexpr uint64_t kLimitUs = 600'000'000;  // ten minutes
};

// A prompt: how the operator gets there from the menu, and how he leaves
// it with Esc (and the menus above it) back to the main menu.
struct Prompt {
  const char* name;
  Steps reach;  // from the main menu's prompt on
  std::string prompt;
  Steps leave;  // the keys at the prompt itself first
  bool word;    // the value goes to the controller as a DM word
};

const std::vector<Prompt>& Prompts() {
  static const std::vector<Prompt> prompts = {
      // Macros: the two guided accesses. The second Esc leaves the macro screen.
      {"macro put, cassette", {{"Enter [0..6]", "3\r", "", "B"}}, "Cassette Number :", {{"Cassette Number :", "\x1b\x1b"}}, true},
      {"macro put, level",
       {{"Enter [0..6]", "3\r", "", "B"}, {"Cassette Number :", "5\r"}},
       "Level Number :",
       {{"Level Number :", "\x1b\x1b"}},
       true},
      {"macro take, cassette", {{"Enter [0..6]", "3\r", "", "I"}}, "Cassette Number :", {{"Cassette Number :", "\x1b\x1b"}}, true},
      // Component tests: each asks, Esc returns to their menu, Esc leaves it.
      {"carousel pause range",
       {{"Enter [0..6]", "5\r"}, {"Select now", "1"}},
       "Enter Pause range 0..x s",
       {{"Enter Pause range 0..x s", "\x1b"}, {"Select now", "\x1b"}},
       false},
      {"lift path",
       {{"Enter [0..6]", "5\r"}, {"Select now", "4"}},
       "Enter Path [h<65535]",
       {{"Enter Path [h<65535]", "\x1b"}, {"Select now", "\x1b"}},
       true},
      {"lift pause",
       {{"Enter [0..6]", "5\r"}, {"Select now", "4"}, {"Enter Path [h<65535]", "100\r"}},
       "Enter Pause [s]",
       {{"Enter Pause [s]", "\x1b"}, {"Select now", "\x1b"}},
       false},
      {"SMC 1 path",
       {{"Enter [0..6]", "5\r"}, {"Select now", "9"}},
       "Enter Path [h<65535]",
       {{"Enter Path [h<65535]", "\x1b"}, {"Select now", "\x1b"}},
       true},
      {"gate pause",
       {{"Enter [0..6]", "5\r"}, {"Select now", "5"}},
       "Enter Pause [s]",
       {{"Enter Pause [s]", "\x1b"}, {"Select now", "\x1b"}},
       false},
      {"gate open time",
       {{"Enter [0..6]", "5\r"}, {"Select now", "5"}, {"Enter Pause [s]", "0\r"}},
       "Enter Open Time [s]",
       {{"Enter Open Time [s]", "\x1b"}, {"Select now", "\x1b"}},
       false},
      {"shovel delay",
       {{"Enter [0..6]", "5\r"}, {"Select now", "6"}},
       "Enter Delay [s]",
       {{"Enter Delay [s]", "\x1b"}, {"Select now", "\x1b"}},
       false},
      {"turn delay",
       {{"Enter [0..6]", "5\r"}, {"Select now", "7"}},
       "Enter Delay [s]",
       {{"Enter Delay [s]", "\x1b"}, {"Select now", "\x1b"}},
       false},
      // The all-slots test's own settings.
      {"all slots, start level",
       {{"Enter [0..6]", "6\r"}, {"Standard Test [Y/Q/N]", "n"}, {"X-fer Station [Y/N]", "n"}, {"Quick Test [Y/N]", "n"}},
       "Enter Start Level [1]",
       {{"Enter Start Level [1]", "\x1b"}},
       false},
      {"all slots, start slot",
       {{"Enter [0..6]", "6\r"},
        {"Standard Test [Y/Q/N]", "n"},
        {"X-fer Station [Y/N]", "n"},
        {"Quick Test [Y/N]", "n"},
        {"Enter Start Level [1]", "1\r"}},
       "Enter Start Slot [1]",
       {{"Enter Start Slot [1]", "\x1b"}},
       false},
      {"all slots, blank level",
       {{"Enter [0..6]", "6\r"},
        {"Standard Test [Y/Q/N]", "n"},
        {"X-fer Station [Y/N]", "n"},
        {"Quick Test [Y/N]", "n"},
        {"Enter Start Level [1]", "1\r"},
        {"Enter Start Slot [1]", "1\r"}},
       "Enter Blank Level [0=none]",
       {{"Enter Blank Level [0=none]", "\x1b"}},
       false},
      // The random-access test's dialogue, standard and custom.
      {"random access, interval",
       {{"Enter [0..6]", "7\r"}, {"Standard Test [Y/N]", "y"}},
       "Enter Interval Time (>1sec)",
       {{"Enter Interval Time (>1sec)", "\x1b"}},
       false},
      {"random access, blank level",
       {{"Enter [0..6]", "7\r"},
        {"Standard Test [Y/N]", "n"},
        {"Test Carrousel, Handler, Both [C,H,B]", "b"},
        {"Include X-fer Station", "n"}},
       "Blank Level [0=none]",
       {{"Blank Level [0=none]", "\x1b"}},
       false},
      {"random access, interval kind",
       {{"Enter [0..6]", "7\r"},
        {"Standard Test [Y/N]", "n"},
        {"Test Carrousel, Handler, Both [C,H,B]", "c"},
        {"Plate Tracing [Y/N]", "n"},
        {"Negative DM0 Addressing", "n"}},
       "Enter Interval Time [n=min,0=Random Sec,-1=sec]:",
       {{"Enter Interval Time [n=min,0=Random Sec,-1=sec]:", "\x1b"}},
       false},
      {"random access, random interval",
       {{"Enter [0..6]", "7\r"},
        {"Standard Test [Y/N]", "n"},
        {"Test Carrousel, Handler, Both [C,H,B]", "c"},
        {"Plate Tracing [Y/N]", "n"},
        {"Negative DM0 Addressing", "n"},
        {"Enter Interval Time [n=min", "0\r"}},
       "Enter Max. Random Interval [Sec]",
       {{"Enter Max. Random Interval [Sec]", "\x1b"}},
       false},
  };
  return prompts;
}

class NumberPrompts : public ::testing::Test {
 protected:
  void SetUp() override {
    vt::Reset();
    InitAllUnits();
    ResetKeys();
    GetScreenSize();
    store = std::make_unique<GuardedStore>();
    vt::AttachPort(1, store.get());
  }

  // Runs the whole program through the steps. Every blocking key read must
  // find its step's prompt on the cursor's row; the run must end at the
  // menu's 0. Returns the lines the controller received.
  std::vector<std::string> Run(const Steps& steps) {
    size_t next = 0;
    std::string failure;
    vt::SetKeyFeeder([&] {
      if (next >= steps.size()) {
        failure = "no step left; cursor row: " + gScreen.Row(gScreen.curY);
        return false;
      }
      const Step& s = steps[next];
      const std::string row = gScreen.Row(gScreen.curY);
      if (row.find(s.prompt) == std::string::npos) {
        failure = "step " + std::to_string(next) + ": expected \"" + s.prompt + "\", cursor row: " + row;
        return false;
      }
      if (!s.above.empty() && gScreen.curY > 1 && gScreen.Row(gScreen.curY - 1).find(s.above) == std::string::npos) {
        failure = "step " + std::to_string(next) + ": expected \"" + s.above +
                  "\" above, found: " + gScreen.Row(gScreen.curY - 1);
        return false;
      }
      vt::PushKeys(s.keys);
      if (!s.later.empty()) vt::PushKeysAt(vt::NowUs() + 2'000'000, s.later);
      ++next;
      return true;
    });
    bool ended = false;
    try {
      ended = VektonMain() == 0;
    } catch (const vt::ScriptEnd&) {
    } catch (const TimeLimit&) {
      failure += " (ran past the time limit after step " + std::to_string(next) + ")";
    }
    EXPECT_TRUE(ended) << failure;
    EXPECT_EQ(next, steps.size()) << failure;
    return vt::WrittenLines(1);
  }

  static Steps Concat(std::initializer_list<Steps> parts) {
    Steps all;
    for (const Steps& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  }

  std::unique_ptr<GuardedStore> store;
};

// The reference run leaves the prompt at once; the other types every bad
// entry first, each answered and asked again. The controller must not tell
// them apart.
TEST_F(NumberPrompts, EveryPromptRefusesWhatIsNoNumberAndSendsNothingOfIt) {
  for (const Prompt& p : Prompts()) {
    SCOPED_TRACE(p.name);
    SetUp();
    const std::vector<std::string> reference = Run(Concat({kStart, p.reach, p.leave, {kQuit}}));

    Steps bad;
    std::string refusal;
    for (const std::string& entry : kNotNumbers) {
      bad.push_back({p.prompt, entry + "\r", refusal});
      refusal = kNotANumberText;
    }
    if (p.word) {
      for (const char* entry : {"65536", "70000", "-32769", "2147483647"}) {
        bad.push_back({p.prompt, std::string(entry) + "\r", refusal});
        refusal = kNotAWordText;
      }
    }
    Steps leave = p.leave;
    leave.front().above = refusal;
    SetUp();
    const std::vector<std::string> typed = Run(Concat({kStart, p.reach, bad, leave, {kQuit}}));
    EXPECT_EQ(typed, reference);
  }
}

TEST_F(NumberPrompts, PortPromptAsksAgainUntilAWholeNumberComes) {
  const std::vector<std::string> reference = Run(Concat({kStart, {kQuit}}));
  Steps steps;
  std::string refusal;
  for (const std::string& entry : kNotNumbers) {
    steps.push_back({"Enter Port Number to Vekton", entry + "\r", refusal});
    refusal = kNotANumberText;
  }
  steps.push_back({"Enter Port Number to Vekton", "1\r", refusal});
  SetUp();
  EXPECT_EQ(Run(Concat({steps, {kStart[1]}, {kQuit}})), reference);
  EXPECT_EQ(ComPort, 1);
}

// What is typed within a word's range goes out as typed (a negative number
// as the word's two's complement, the negative addressing of DM0); pasted
// control bytes are refused one by one with the bell and never become part
// of the number or of the screen.
TEST_F(NumberPrompts, WordPromptsSendTheTypedValueAndDropPastedControlBytes) {
  const unsigned bells = gScreen.bellCount;
  const std::vector<std::string> wire = Run(Concat({kStart,
                                                    {{"Enter [0..6]", "3\r", "", "B"},
                                                     {"Cassette Number :", "70000\r"},
                                                     {"Cassette Number :", "-3\r", kNotAWordText},
                                                     {"Level Number :", "\x01\x02\t1\x1f\n\r", "", "\x1b"}},
                                                    {kQuit}}));
  EXPECT_GE(gScreen.bellCount - bells, 5u);
  std::vector<std::string> dm;
  for (const std::string& l : wire)
    if (l.rfind("WR DM", 0) == 0 && l != "WR DM123 0") dm.push_back(l);
  EXPECT_EQ(dm, (std::vector<std::string>{"WR DM0 65533", "WR DM5 1"}));
}

}  // namespace
