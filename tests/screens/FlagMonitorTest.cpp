// The flag monitor: table texts and which answer lands after which label, the
// commands of one pass in order, the command line below the table, and what a
// silent or garbling controller does to the screen (nothing harmful).
#include <string>
#include <vector>

#include "tests/screens/MonitorMacrosFixture.h"

namespace {

// The window the main menu leaves behind (the banner's, columns 10 to 70):
// the monitor draws into it as it finds it.
constexpr int kX = 10;

const int kRelayRows[][2] = {{0, 500},  {1, 501},  {2, 502},   {3, 503},  {4, 504},   {5, 505},
                             {6, -1},   {7, 1100}, {8, 1907},  {9, 1801}, {10, 1104}, {11, -1},
                             {12, 1815}, {13, 1915}, {14, -1}, {15, -1}};

std::vector<std::string> OnePass() {
  std::vector<std::string> out;
  for (const auto& r : kRelayRows) {
    if (r[1] >= 0) out.push_back("RD " + std::to_string(r[1]));
    out.push_back("RD " + std::to_string(r[0]));
  }
  for (const char* dm : {"RD DM91", "RD DM92", "RD DM93"}) out.push_back(dm);
  for (int i = 0; i < 8; ++i) out.push_back("RD DM1");
  out.push_back("RD DM0");
  out.push_back("RD DM2");
  return out;
}

}  // namespace

class FlagMonitorTest : public MonMacTest {
 protected:
  void SetUp() override {
    MonMacTest::SetUp();
    // Every relay answers with its own number, so each answer can be traced
    // to the label it follows.
    for (const auto& r : kRelayRows)
      for (int n : r)
        if (n >= 0) answers["RD " + std::to_string(n)] = "R" + std::to_string(n);
    answers["RD DM200"] = "00000";
    answers["RD DM91"] = "00120";
    answers["RD DM92"] = "00030";
    answers["RD DM93"] = "00040";
    answers["RD DM1"] = "00003";
    answers["RD DM0"] = "00007";
    answers["RD DM2"] = "00002";
    Window(kX, 1, 70, 25);
    // The screen as each pass from the second on begins (before its writes).
    onLine = [this](const std::string& line, int) {
      if (line == "RD 500") passStart.push_back(Rows());
    };
  }
  static std::string W(const std::vector<std::string>& rows, int y) {
    std::string r = rows[static_cast<size_t>(y)].substr(kX - 1, 61);
    r.erase(r.find_last_not_of(' ') + 1);
    return r;
  }
  std::vector<std::vector<std::string>> passStart;
};

TEST_F(FlagMonitorTest, OnePassDrawsTheTableAndEscLeavesAfterThePass) {
  When("RD 500", 2, "\x1b");
  MonitorFlags();

  // The status line once on entry, one whole pass, and the pass that saw Esc
  // sends nothing after the command during which it came.
  std::vector<std::string> expected{"RD DM200"};
  for (const std::string& l : OnePass()) expected.push_back(l);
  expected.push_back("RD 500");
  EXPECT_EQ(Wire(), expected);

  ASSERT_EQ(passStart.size(), 2u);
  const auto& s = passStart[1];
  EXPECT_EQ(W(s, 2), "P0     0000 R0   Rot.EN   0500 R500");
  EXPECT_EQ(W(s, 6), "       0004 R4   CarDrive 0504 R504");
  EXPECT_EQ(W(s, 8), "SW 2E0 0006 R6");
  EXPECT_EQ(W(s, 10), "SW 2E2 0008 R8   Shaker        R1907");
  EXPECT_EQ(W(s, 12), "PltShv 0010 R10   KeyVld        R1104");
  EXPECT_EQ(W(s, 14), "ShFrnt 0012 R12   PlateReady    R1815");
  EXPECT_EQ(W(s, 15), "ShBk   0013 R13   Ready    1915 R1915");
  EXPECT_EQ(W(s, 17), "z-Init 0013 R15");  // the label's number is not the relay's
  EXPECT_EQ(W(s, 18), "");
  EXPECT_EQ(W(s, 19), "Set.Spd. DM91 00120  aSlpe.DM92 00030  bSlpe.DM93 00040");
  EXPECT_EQ(W(s, 20), "Rot.Pos. DM01 00003  Accs. DM00 00007  AccV. DM02 00002");
  EXPECT_EQ(W(s, 22), "");
  EXPECT_EQ(gScreen.Text(1, 1, 10), "Vekton  # ");

  // The pass cut short by Esc shows the labels with nothing after them.
  EXPECT_EQ(Row(2, kX), "P0     0000    Rot.EN   0500");
  EXPECT_TRUE(EscAbort);
}

TEST_F(FlagMonitorTest, EscDuringTheRotationReadsEndsThem) {
  When("RD DM1", 1, "\x1b");
  MonitorFlags();
  const auto wire = Wire();
  EXPECT_EQ(wire.back(), "RD DM1");
  EXPECT_EQ(std::count(wire.begin(), wire.end(), "RD DM1"), 1);
}

TEST_F(FlagMonitorTest, TypedCommandIsSentAloneAndAnsweredFromColumn15) {
  // Two lines typed within one pass go out one per pass, each on its own.
  When("RD 500", 1, "RD 1915\rRD 1815\r");
  When("RD 500", 3, "AB");
  When("RD 500", 4, "CDEFGHIJKLM");
  When("RD 500", 5, "\x1b");
  MonitorFlags();

  const std::string wire = vt::WrittenText(1);
  EXPECT_NE(wire.find("RD DM2\rRD 1915\rRD 500\r"), std::string::npos);
  EXPECT_NE(wire.find("RD DM2\rRD 1815\rRD 500\r"), std::string::npos);
  EXPECT_EQ(wire.find("\r\r"), std::string::npos);  // one CR per command

  ASSERT_EQ(passStart.size(), 5u);
  // After the send: the line, a blank over the cursor, the answer from 15.
  EXPECT_EQ(passStart[1][22].substr(kX - 1, 25), "RD 1915       R1915      ");
  EXPECT_EQ(passStart[2][22].substr(kX - 1, 25), "RD 1815       R1815      ");
  // A short text: the block cursor, then blanks up to 12 columns.
  EXPECT_EQ(passStart[3][22].substr(kX - 1, 19), "AB\xDB" + std::string(11, ' ') + "R1815");
  // Thirteen characters: the block right behind, no blanks.
  EXPECT_EQ(passStart[4][22].substr(kX - 1, 16), "ABCDEFGHIJKLM\xDBR1");
  EXPECT_EQ(KeyBuffer, "ABCDEFGHIJKLM");
}

TEST_F(FlagMonitorTest, SilentControllerLeavesNoStaleValues) {
  // From the second pass on the controller is silent: old values go.
  When("RD 500", 3, "\x1b");
  onLine = [this](const std::string& line, int n) {
    if (line == "RD 500" && n == 2) silent = true;
  };
  MonitorFlags();
  EXPECT_EQ(Row(2, kX), "P0     0000    Rot.EN   0500");
  EXPECT_EQ(Row(17, kX), "z-Init 0013");
  EXPECT_EQ(Row(20, kX), "Rot.Pos. DM01   Accs. DM00   AccV. DM02");

}

TEST_F(FlagMonitorTest, NoiseIsDrawnAsGlyphsAndNeverWrapsARow) {
  // Every answer 48 bytes of noise, control bytes among them: drawn as
  // glyphs, cut before the window's edge, every row stays where it belongs.
  std::string noise;
  for (int i = 0; i < 48; ++i) noise += static_cast<char>(i % 4 == 0 ? "\r\n\b\a"[i / 4 % 4] : 'x');
  for (auto& a : answers) a.second = noise;
  answers["RD DM200"] = "00000";
  When("RD 500", 2, "\x1b");
  MonitorFlags();
  ASSERT_EQ(passStart.size(), 2u);
  const auto& s = passStart[1];
  EXPECT_EQ(gScreen.bellCount, 0u);
  EXPECT_EQ(s[1].substr(0, 10), "Vekton  # ");
  EXPECT_EQ(s[2].substr(kX - 1, 13), "P0     0000 \r");
  EXPECT_EQ(s[17].substr(kX - 1, 12), "z-Init 0013 ");
  EXPECT_EQ(s[19].substr(kX - 1, 14), "Set.Spd. DM91 ");
  EXPECT_EQ(s[20].substr(kX - 1, 14), "Rot.Pos. DM01 ");
  for (int y = 2; y <= 25; ++y) EXPECT_EQ(s[static_cast<size_t>(y)][69], ' ') << "row " << y;
}

TEST_F(FlagMonitorTest, PortNotOpenStillLetsTimePassAndEscLeave) {
  ComClose(1);
  const uint64_t t0 = vt::NowUs();
  vt::PushKeysAt(t0 + 2'000'000, "\x1b");
  MonitorFlags();  // a spinning loop would throw vt::Spin
  EXPECT_TRUE(Wire().empty());
  EXPECT_GE(vt::NowUs() - t0, 2'000'000u);
  EXPECT_LT(vt::NowUs() - t0, 2'500'000u);
}
