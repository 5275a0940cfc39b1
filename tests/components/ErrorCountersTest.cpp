// Error counters: the nine words listed as answered, and the reset.
#include "tests/components/TeachMenuFixture.h"

namespace {

class ErrorCounters : public CarrouselTest {
 protected:
  void SetUp() override {
    CarrouselTest::SetUp();
    for (int i = 0; i < 9; ++i) dm[211 + i] = 10 * i + 1;
  }
  static const std::vector<std::string>& Listing() {
    static const std::vector<std::string> lines = {
        "DM211 00001", "DM212 00011", "DM213 00021", "DM214 00031", "DM215 00041",
        "DM216 00051", "DM217 00061", "DM218 00071", "DM219 00081", "Reset Counter [Y/N]",
    };
    return lines;
  }
};

TEST_F(ErrorCounters, ListsTheNineCountersAndResetsThemInOrderOnY) {
  std::vector<std::string> atWrite;  // the last screen line as each reset goes out
  onHeard = [&](const std::string& line) {
    if (line.rfind("WR DM", 0) == 0) {
      std::string r = gScreen.Row(WhereY());
      atWrite.push_back(r.erase(r.find_last_not_of(' ') + 1));
    }
  };
  Type({"y"});
  const uint64_t start = vt::NowUs();
  ASSERT_TRUE(Run(ErrorCountersScreen));

  std::vector<std::string> expected;
  for (int i = 0; i < 9; ++i) expected.push_back("RD DM" + std::to_string(211 + i));
  for (int i = 0; i < 9; ++i) expected.push_back("WR DM" + std::to_string(211 + i) + " 0");
  EXPECT_EQ(Commands(), expected);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(dm[211 + i], 0);

  // Each reset line names its counter before the write goes out.
  ASSERT_EQ(atWrite.size(), 9u);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(atWrite[i], "Reset DM" + std::to_string(211 + i)) << i;

  std::vector<std::string> screen = Listing();
  for (int i = 0; i < 9; ++i) screen.push_back("Reset DM" + std::to_string(211 + i) + " OK");
  EXPECT_EQ(ScreenLines(), screen);
  // The lines stay 1.5 s before the menu comes back.
  EXPECT_GE(vt::NowUs() - start, 1'500'000u);
  EXPECT_EQ(LastKey, 0);
}

TEST_F(ErrorCounters, AnyOtherKeyLeavesTheCountersAlone) {
  for (const char* key : {"n", "\x1b"}) {
    SCOPED_TRACE(key);
    ResetKeys();
    vt::ClearWritten(1);
    GotoXY(1, 2);
    Type({key});
    ASSERT_TRUE(Run(ErrorCountersScreen));
    EXPECT_EQ(Commands().size(), 9u);  // the reads alone
    EXPECT_EQ(ScreenLines(), Listing());
    EXPECT_EQ(dm[211], 1);
    // Esc stays set, so the menu's next key read leaves the menu as well.
    EXPECT_EQ(EscAbort, key[0] == 27);
  }
}

TEST_F(ErrorCounters, AnswersFromTheWireAreDrawnAsGlyphs) {
  peer.On("RD DM211", "\x1b[2J\b");
  Type({"n"});
  ASSERT_TRUE(Run(ErrorCountersScreen));
  // Nothing moved the cursor: the bytes stand as characters behind the label.
  EXPECT_EQ(gScreen.Text(1, 2, 6), "DM211 ");
  EXPECT_EQ(gScreen.Char(7, 2), 27);
  EXPECT_EQ(gScreen.Char(11, 2), 8);
  EXPECT_EQ(gScreen.Text(1, 3, 11), "DM212 00011");
}

// Against the simulated store: the words really go back to 0.
class ErrorCountersInStore : public StoreTest {};

TEST_F(ErrorCountersInStore, ResettingZeroesDm211ToDm219) {
  sim::Store& s = store.store();
  for (int i = 0; i < 9; ++i) s.Execute("WR DM" + std::to_string(211 + i) + " " + std::to_string(i + 3), s.NowUs());
  ASSERT_EQ(s.Dm(219), 11);
  Type({"Y"});
  ASSERT_TRUE(Run(ErrorCountersScreen));
  auto lines = ScreenLines();
  ASSERT_EQ(lines.size(), 19u);
  EXPECT_EQ(lines[0], "DM211 00003");
  EXPECT_EQ(lines[8], "DM219 00011");
  EXPECT_EQ(lines[18], "Reset DM219 OK");
  for (int a = 211; a <= 219; ++a) EXPECT_EQ(s.Dm(a), 0) << a;
}

}  // namespace
