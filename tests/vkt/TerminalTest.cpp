#include <string>

#include "VktFixture.h"

namespace {

const std::string kTitle = "*     Quendal VKT Terminal      *";
const std::string kHeader = " Send           : Receive    /esc";
const std::string kEmptyRow = " >              : <              ";

// Box columns 23..57, rows 3..22 on an 80 x 25 screen; its shadow one column
// right and one row down.
bool InBox(int x, int y) { return x >= 23 && x <= 57 && y >= 3 && y <= 22; }
bool InShadow(int x, int y) { return !InBox(x, y) && x >= 24 && x <= 58 && y >= 4 && y <= 23; }

void FillScreen(char ch) {
  for (int y = 1; y <= 25; ++y)
    for (int x = 1; x <= 80; ++x) gScreen.Put(x, y, static_cast<uint8_t>(ch), 0x71);
}

}  // namespace

class TerminalTest : public VktTest {
 protected:
  ScreenModel shot;  // the screen at the moment the terminal waited for a key
  int feeds = 0;

  // Answers each wait for a key with the next of lines (Enter added), then Esc;
  // the screen is caught just before the Esc.
  void TypeLines(std::vector<std::string> lines) {
    vt::SetKeyFeeder([this, lines] {
      if (feeds < static_cast<int>(lines.size())) {
        vt::PushKeys(lines[static_cast<size_t>(feeds++)] + "\r");
      } else {
        shot = gScreen;
        vt::PushKeys("\x1b");
      }
      return true;
    });
  }
};

TEST_F(TerminalTest, FrameShadowAndInnerWindow) {
  FillScreen('x');
  TerminalFrame(34);
  for (int y = 1; y <= 25; ++y) {
    for (int x = 1; x <= 80; ++x) {
      SCOPED_TRACE(testing::Message() << "cell " << x << "," << y);
      if (InBox(x, y)) {
        EXPECT_EQ(gScreen.Char(x, y), ' ');
        EXPECT_EQ(gScreen.Bg(x, y), 1);
        EXPECT_EQ(gScreen.Fg(x, y), 14);
      } else if (InShadow(x, y)) {
        EXPECT_EQ(gScreen.Char(x, y), ' ');
        EXPECT_EQ(gScreen.Bg(x, y), 0);
      } else {
        ASSERT_EQ(gScreen.Char(x, y), 'x');
        ASSERT_EQ(gScreen.Bg(x, y), 7);
      }
    }
  }
  // Inner window columns 24..56, rows 4..21, cursor at its start.
  EXPECT_EQ(WindMin(), 0x0317);
  EXPECT_EQ(WindMax(), 0x1437);
  EXPECT_EQ(WhereX(), 1);
  EXPECT_EQ(WhereY(), 1);
}

TEST_F(TerminalTest, CommandAndAnswerOnOneRow) {
  const std::string command = "WR DM1000 1234567890";
  ASSERT_EQ(command.size(), 20u);
  peer.On(command, "OK");
  Window(10, 1, 70, 25);
  TypeLines({command});
  TerminalMode(1);

  EXPECT_EQ(Lines(), std::vector<std::string>{command});
  // Title on the first inner row, in the frame's colours; the cursor wrapped
  // past it, so the header is on the third.
  EXPECT_EQ(shot.Text(24, 4, 33), kTitle);
  EXPECT_EQ(shot.Fg(24, 4), 14);
  EXPECT_EQ(shot.Bg(56, 4), 1);
  EXPECT_EQ(shot.Text(24, 5, 33), std::string(33, ' '));
  EXPECT_EQ(shot.Text(24, 6, 33), kHeader);
  // The command from inner column 2 to 21, the blank and the answer from 18.
  EXPECT_EQ(shot.Text(24, 7, 33), " WR DM1000 123456 OK0" + std::string(12, ' '));
  for (int x = 24; x <= 56; ++x) {
    EXPECT_EQ(shot.Fg(x, 7), 2) << x;
    EXPECT_EQ(shot.Bg(x, 7), 0) << x;
  }
  // The next row is ready for input.
  EXPECT_EQ(shot.Text(24, 8, 33), kEmptyRow);
  EXPECT_EQ(shot.curX, 25);
  EXPECT_EQ(shot.curY, 8);

  // Closed: the whole screen cleared in the normal colours, the caller's
  // window back.
  for (int y = 1; y <= 25; ++y) {
    EXPECT_EQ(Text(1, y, 80), std::string(80, ' ')) << y;
    EXPECT_TRUE(Colours(1, y, 80, 1, 7)) << y;
  }
  EXPECT_EQ(WindMin(), 0x0009);
  EXPECT_EQ(WindMax(), 0x1845);
  EXPECT_EQ(TextAttr(), 0x71);
  EXPECT_FALSE(EscAbort);
  EXPECT_TRUE(KeyBuffer.empty());
}

TEST_F(TerminalTest, EscClosesWithNothingSent) {
  // Esc at the first input row.
  Keys(50, "\x1b");
  TerminalMode(1);
  EXPECT_TRUE(vt::WrittenText(1).empty());
  EXPECT_EQ(Text(1, 4, 80), std::string(80, ' '));
  EXPECT_FALSE(EscAbort);

  // Esc typed behind the Enter stops the line before its first byte.
  Keys(50, "RD DM5\r\x1b");
  TerminalMode(1);
  EXPECT_TRUE(vt::WrittenText(1).empty());
  EXPECT_EQ(Text(1, 7, 80), std::string(80, ' '));
  EXPECT_EQ(vt::PendingKeys(), 0u);
}

TEST_F(TerminalTest, RowsScrollInsideTheBoxAndNegativeValuesAreRewritten) {
  std::vector<std::string> commands;
  for (int i = 1; i <= 20; ++i) commands.push_back("RD DM" + std::to_string(i));
  commands.push_back("WR DM10 -5");
  peer.OnAny([](const std::string& line, vt::ScriptedPeer::Rule& r) {
    r.answer = "A" + line.substr(line.size() - 2);
    return true;
  });
  FillScreen('x');
  TypeLines(commands);
  TerminalMode(1);

  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[19], "RD DM20");
  EXPECT_EQ(lines[20], "WR DM10 65531");

  // The input row stays one above the window's bottom once it is reached;
  // the rows before it moved up inside the inner window.
  EXPECT_EQ(shot.Text(24, 20, 33), kEmptyRow);
  EXPECT_EQ(shot.Text(24, 19, 33), " WR DM10 -5     : A31" + std::string(12, ' '));
  EXPECT_EQ(shot.Text(24, 18, 33), " RD DM20        : A20" + std::string(12, ' '));
  EXPECT_EQ(shot.Text(24, 21, 33), std::string(33, ' '));
  EXPECT_EQ(shot.Bg(24, 21), 0);
  // Frame, shadow and the screen around them untouched by the scrolling.
  for (int y = 1; y <= 25; ++y) {
    for (int x = 1; x <= 80; ++x) {
      const bool inner = x >= 24 && x <= 56 && y >= 4 && y <= 21;
      if (inner) continue;
      SCOPED_TRACE(testing::Message() << "cell " << x << "," << y);
      if (InBox(x, y)) {
        ASSERT_EQ(shot.Bg(x, y), 1);
        ASSERT_EQ(shot.Char(x, y), ' ');
      } else if (InShadow(x, y)) {
        ASSERT_EQ(shot.Bg(x, y), 0);
      } else {
        ASSERT_EQ(shot.Char(x, y), 'x');
      }
    }
  }
}

TEST_F(TerminalTest, DeviceBytesStayInsideTheWindow) {
  // An answer of control bytes and more text than the row holds.
  vt::ScriptedPeer::Rule rule{std::string("\x1b[2J\x01\x02\x03") + std::string(40, 'A') + "\r\n", true};
  peer.On("RD DM7", rule);
  FillScreen('x');
  TypeLines({"RD DM7"});
  TerminalMode(1);

  EXPECT_EQ(shot.Char(41, 7), ' ');
  EXPECT_EQ(shot.Char(42, 7), 0x1B);  // drawn as its glyph
  EXPECT_EQ(shot.Text(43, 7, 6), std::string("[2J\x01\x02\x03"));
  EXPECT_EQ(shot.Text(49, 7, 8), std::string(8, 'A'));
  // The rest wraps onto the next inner row; the next input row follows it.
  EXPECT_EQ(shot.Text(24, 8, 33), std::string(32, 'A') + " ");
  EXPECT_EQ(shot.Text(24, 9, 33), kEmptyRow);
  for (int y = 1; y <= 25; ++y) {
    for (int x = 1; x <= 80; ++x) {
      if (!InBox(x, y) && !InShadow(x, y)) {
        ASSERT_EQ(shot.Char(x, y), 'x') << x << "," << y;
      }
    }
  }
}
