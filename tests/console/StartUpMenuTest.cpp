// Start-up dialogue, connection check and the main menu loop's bracket.
#include <string>
#include <vector>

#include "tests/console/ConsoleFixture.h"

namespace {

using Seq = std::vector<std::string>;

const Seq kStartUpLines = {"CR", "RD DM109", "RD DM108", "CQ"};
const Seq kConfigLines = {"RD DM25", "RD DM29", "RD DM46", "RD DM47",
                            "RD DM23", "RD DM22", "RD DM20", "RD 1703"};

Seq Bracket(bool withConfig) {
  Seq l = {"CR", "RD DM109", "WR DM123 0"};
  if (withConfig) l.insert(l.end(), kConfigLines.begin(), kConfigLines.end());
  l.push_back("CQ");
  return l;
}

Seq Concat(std::initializer_list<Seq> parts) {
  Seq all;
  for (const Seq& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<std::string> SplitRows(const std::string& screen) {
  std::vector<std::string> rows;
  size_t start = 0;
  for (size_t nl; (nl = screen.find('\n', start)) != std::string::npos; start = nl + 1)
    rows.push_back(screen.substr(start, nl - start));
  return rows;
}

}  // namespace

TEST_F(ConsoleTest, StartUpAsksPortAndNameThenChecksTheController) {
  vt::SetDosVersion(0x0005);
  Script({"1\r", "\r"});
  StartUp();

  EXPECT_EQ(Line(1), "Enter Port Number to Vekton  1");
  EXPECT_EQ(gScreen.Text(1, 2, 29), "Enter Operator Name          ");
  EXPECT_EQ(Line(2), "Enter Operator Name");
  EXPECT_EQ(Line(3), "Open Comport 0");
  EXPECT_EQ(Line(4), "Communication Request to Hardware CC");
  EXPECT_EQ(Line(5), "CF Closed");
  EXPECT_EQ(gScreen.Fg(1, 1), 1);
  EXPECT_EQ(gScreen.Bg(1, 1), 7);
  EXPECT_EQ(gScreen.Bg(80, 25), 7);

  EXPECT_EQ(Wire(), kStartUpLines);
  EXPECT_EQ(ComPort, 1);
  EXPECT_EQ(OperatorName, "Default User");
  EXPECT_EQ(SerialNumber, 1234);
  EXPECT_EQ(FirmwareVersion, 7104);
  EXPECT_EQ(DosVersionNumber, 0x0005);
  EXPECT_NE(RandSeed, 0u) << "a good connection seeds the random numbers";
  // Half a second to read the result before the menu replaces it.
  EXPECT_GE(vt::NowUs() - vt::WrittenLineTimes(1).back(), 500000u);
}

TEST_F(ConsoleTest, SilentControllerAtStartUpGetsThreeRequestsAndAMessage) {
  vt::ScriptedPeer silent;
  vt::AttachPort(1, &silent);
  Script({"1\r", "Hans Meier\r"});
  StartUp();

  EXPECT_EQ(Wire(), (Seq{"CR", "CR", "CR"}));
  std::vector<uint64_t> t = vt::WrittenLineTimes(1);
  ASSERT_EQ(t.size(), 3u);
  for (int i = 1; i < 3; ++i) {
    // A silent exchange (two read time-outs and the 1 ms waits), then 100 ms.
    uint64_t gapMs = (t[i] - t[i - 1]) / 1000;
    EXPECT_GE(gapMs, 200u);
    EXPECT_LE(gapMs, 215u);
  }
  EXPECT_EQ(Line(4), "Communication Request to Hardware No Communication to Hardware...");
  EXPECT_EQ(OperatorName, "Hans Meier");
  EXPECT_EQ(SerialNumber, 0);
  EXPECT_EQ(FirmwareVersion, 0);
  EXPECT_EQ(RandSeed, 0u);
}

TEST_F(ConsoleTest, NonNumberPortIsAskedAgainAndEscapedNameIsDefault) {
  Script({"abc\r", "x\x1b", "1\r", "Hans\x1b"});
  StartUp();

  EXPECT_EQ(Line(1), "Enter Port Number to Vekton  abc");
  EXPECT_EQ(Line(2), "Not a number from -2147483648 to 2147483647");
  EXPECT_EQ(Line(3), "Enter Port Number to Vekton");
  EXPECT_EQ(Line(4), "Enter Port Number to Vekton  1");
  EXPECT_EQ(Line(5), "Enter Operator Name");
  EXPECT_EQ(Line(6), "Open Comport 0");
  EXPECT_EQ(ComPort, 1);
  EXPECT_EQ(OperatorName, "Default User");
  EXPECT_EQ(Wire(), kStartUpLines);
}

TEST_F(ConsoleTest, PortThatCannotBeOpenedIsReportedAndTheMenuFollows) {
  // Port 5 does not exist; the key after each message lets the program go on.
  Script({"5\r", "\r", "x", "0\r", "x"});
  StartUp();
  EXPECT_EQ(Line(3), "Open Comport Invalid Port Number: 5   E22");
  EXPECT_EQ(Line(4), "Unable to open Comport...");

  MainLoop();  // returns after the choice 0, although nothing could be sent
  EXPECT_TRUE(vt::WrittenText(1).empty());
  ASSERT_EQ(screens.size(), 5u);
  EXPECT_NE(screens[3].find("Enter [0..6]"), std::string::npos);
  // In the loop the failed open shows behind the arrow.
  EXPECT_NE(screens[4].find("Open Comport   -> Invalid Port Number: 5   E2"), std::string::npos);
}

TEST_F(ConsoleTest, PortOutsideTheTableIsReportedLikeAMissingOne) {
  Script({"200\r", "\r", "x", "0\r", "x"});
  EXPECT_EQ(RunProgram(), 0);
  ASSERT_EQ(screens.size(), 5u);
  // screens[2] is the key wait after the message.
  std::vector<std::string> rows = SplitRows(screens[2]);
  EXPECT_EQ(rows[2].rfind("Open Comport Invalid Port Number: 200   E", 0), 0u) << rows[2];
  EXPECT_NE(screens[3].find("Enter [0..6]"), std::string::npos);
}

TEST_F(ConsoleTest, MenuShowsItsLinesInTheBannerWindowWithThePortClosed) {
  Script({"1\r", "\r", "0\r"});
  int x = 0, y = 0;
  bool portOpen = true;
  onStep = [&](size_t step) {
    if (step == 2) {
      x = WhereX();
      y = WhereY();
      portOpen = vt::Port(1).open;
    }
  };
  ASSERT_EQ(RunProgram(), 0);
  ASSERT_EQ(screens.size(), 3u);
  EXPECT_FALSE(portOpen) << "the port is closed while the menu waits";

  std::vector<std::string> rows = SplitRows(screens[2]);
  int first = -1;
  for (int r = 0; r < static_cast<int>(rows.size()); ++r)
    if (rows[r].find("Direct Commands") != std::string::npos) first = r;
  ASSERT_GE(first, 0);
  const char* kMenu[] = {
      "Direct Commands                 1", "Monitor Flags                   2",
      "Macros                          3", "Teach Positioning Times         4",
      "Component Test / Error Cntrs    5", "Test Sequence all Slots         6",
      "Test Sequence Random Access     7", "Test 3-Plate Squence            8",
      "Quit                            0",
  };
  // Column 11 of the banner's window (columns 10 to 70) is screen column 20.
  for (int i = 0; i < 9; ++i)
    EXPECT_EQ(rows[first + i], std::string(19, ' ') + kMenu[i] + std::string(80 - 19 - 33, ' '));
  EXPECT_EQ(rows[first + 9], std::string(80, ' '));
  EXPECT_EQ(rows[first + 10], std::string(80, ' '));
  EXPECT_EQ(rows[first + 11], std::string(9, ' ') + std::string(55, '_') + std::string(16, ' '));
  EXPECT_EQ(rows[first + 12].substr(19, 32), "Enter [0..6]                    ");
  EXPECT_EQ(x, 11 + 32);
  EXPECT_EQ(y, first + 13);  // the window starts at row 1: window row = screen row
}

struct ChoiceCase {
  const char* typed;
  bool config;
};

// Choices that name no screen: the bracket alone, then the menu again.
class MenuChoiceTest : public ConsoleTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(MenuChoiceTest, RunsTheBracketAndComesBack) {
  const ChoiceCase& c = GetParam();
  Script({"1\r", "\r", std::string(c.typed) + "\r", "0\r"});
  ASSERT_EQ(RunProgram(), 0);
  EXPECT_EQ(screens.size(), 4u) << "the menu comes back once";
  EXPECT_EQ(Wire(), Concat({kStartUpLines, Bracket(c.config), Bracket(false)}));
  // Start-up, the choice and the final 0 each opened the port once.
  EXPECT_EQ(vt::Port(1).opens, 3u);
}

INSTANTIATE_TEST_SUITE_P(Choices, MenuChoiceTest,
                         ::testing::Values(ChoiceCase{"9", true},
                                           ChoiceCase{"A", true},
                                           ChoiceCase{"", false},      // Enter alone
                                           ChoiceCase{"\x1b", false},  // Esc
                                           ChoiceCase{"/", false},     // below "0"
                                           ChoiceCase{":", true}));    // between "9" and "A"

namespace {

struct StopRun {};

// Passes everything to the scripted controller and ends the run at the first
// line after the ones a test is about: what a screen does next is its own
// business. After the last of those lines it types Esc, so a screen that only
// polls the keyboard ends too; one that blocks on a key ends the run through
// the end of the key script.
class StopAfter : public vt::SerialPeer {
 public:
  StopAfter(vt::ScriptedPeer& inner, size_t lines) : inner_(inner), lines_(lines) {}
  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override {
    inner_.OnByte(byte, tUs, out);
    if (byte != 13) return;
    if (inner_.Lines().size() == lines_) vt::PushKeysAt(tUs + 1000, "\x1b");
    if (inner_.Lines().size() > lines_) throw StopRun{};
  }
  void AdvanceTo(uint64_t tUs, vt::Sink& out) override { inner_.AdvanceTo(tUs, out); }

 private:
  vt::ScriptedPeer& inner_;
  size_t lines_;
};

}  // namespace

// Choices that open a screen: the same bracket runs before the screen starts.
class ScreenChoiceTest : public ConsoleTest, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(ScreenChoiceTest, RunsTheBracketBeforeTheScreen) {
  const ChoiceCase& c = GetParam();
  Seq prefix = Concat({kStartUpLines, Bracket(c.config)});
  prefix.pop_back();  // the CQ comes after the screen
  StopAfter stop(peer, prefix.size());
  vt::AttachPort(1, &stop);
  Script({"1\r", "\r", std::string(c.typed) + "\r"});
  try {
    RunProgram();
  } catch (const StopRun&) {
  }
  Seq all = Wire();
  ASSERT_GE(all.size(), prefix.size());
  EXPECT_EQ(Seq(all.begin(), all.begin() + static_cast<long>(prefix.size())), prefix);
  if (!c.config && all.size() > prefix.size()) {
    EXPECT_NE(all[prefix.size()], "RD DM25");
  }
}

INSTANTIATE_TEST_SUITE_P(Screens, ScreenChoiceTest,
                         ::testing::Values(ChoiceCase{"3", false},
                                           ChoiceCase{"s", true},
                                           ChoiceCase{"S", true}));

TEST_F(ConsoleTest, ChoiceZeroRunsItsBracketThenRestoresTheScreen) {
  Script({"1\r", "\r", "0\r"});
  ASSERT_EQ(RunProgram(), 0);
  EXPECT_EQ(Wire(), Concat({kStartUpLines, Bracket(false)}));
  EXPECT_FALSE(vt::Port(1).open);
  EXPECT_EQ(gScreen.winX1, 1);
  EXPECT_EQ(gScreen.winY1, 1);
  EXPECT_EQ(gScreen.winX2, 80);
  EXPECT_EQ(gScreen.winY2, 25);
  for (int y = 1; y <= 25; ++y) ASSERT_EQ(gScreen.Row(y), std::string(80, ' ')) << y;
  EXPECT_EQ(gScreen.Fg(1, 1), 7);
  EXPECT_EQ(gScreen.Bg(1, 1), 0);
  EXPECT_EQ(gScreen.Bg(80, 25), 0);
}

TEST_F(ConsoleTest, BracketLineShowsOpenResultAndAnswer) {
  // A controller that keeps the screen as it stood when DM123 was written.
  std::string atWrite;
  vt::ScriptedPeer watcher;
  watcher.OnAny([&](const std::string& line, vt::ScriptedPeer::Rule& r) {
    if (line == "WR DM123 0") atWrite = Screen();
    r = vt::ScriptedPeer::Rule{line == "CR" ? "CC" : line == "CQ" ? "CF" : "00001"};
    return true;
  });
  vt::AttachPort(1, &watcher);
  Script({"1\r", "\r", "9\r", "0\r"});
  ASSERT_EQ(RunProgram(), 0);
  EXPECT_NE(atWrite.find(std::string(9, ' ') + "Open Comport   -> 0CC"), std::string::npos) << atWrite;
}

struct GeometryCase {
  const char* dm29;
  const char* dm46;
  uint16_t count;
  uint16_t perGroup;
};

class GeometryTest : public ConsoleTest, public ::testing::WithParamInterface<GeometryCase> {};

TEST_P(GeometryTest, CorrectsPositionCountAndGroupSize) {
  const GeometryCase& c = GetParam();
  peer.On("RD DM29", c.dm29);
  peer.On("RD DM46", c.dm46);
  Script({"1\r", "\r", "9\r", "0\r"});
  ASSERT_EQ(RunProgram(), 0);
  EXPECT_EQ(CarPosCount, c.count);
  EXPECT_EQ(CarPosPerGroup, c.perGroup);
  EXPECT_EQ(LevelCount, 10);
  EXPECT_EQ(GroupLiftOffset, 3);
  EXPECT_EQ(LevelPitch, 250);
  EXPECT_EQ(Dm22Word, 7);
  EXPECT_EQ(LiftBase, 1000);
  EXPECT_TRUE(Relay1703Flag);
}

INSTANTIATE_TEST_SUITE_P(Words, GeometryTest,
                         ::testing::Values(GeometryCase{"00012", "00005", 12, 12},
                                           GeometryCase{"00012", "00006", 12, 6},
                                           GeometryCase{"00000", "00000", 9, 9},
                                           GeometryCase{"E1", "E0", 9, 9},        // error answers
                                           GeometryCase{"99999", "00007", 65535, 65535}));  // held, not wrapped
