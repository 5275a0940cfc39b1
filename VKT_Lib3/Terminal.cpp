#include "VKT_Lib3/Terminal.h"

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/ScreenText.h"
#include "comLib3/comLib3.h"
#include "platform/Crt.h"

namespace {

constexpr uint8_t kBlack = 0, kBlue = 1, kGreen = 2, kLightGrey = 7, kYellow = 14;
constexpr uint16_t kInnerWidth = 34;
// The answer is written from here, after the ':' of the input row.
constexpr int kAnswerColumn = 18;

}  // namespace

void TerminalFrame(uint16_t w) {
  FullWindow();
  const int W = ScreenWidth();
  const int H = ScreenHeight();
  const int left = (W - static_cast<int>(w)) / 2;
  const int right = W - left;
  const int top = 3;
  const int bottom = H - 3;

  // The shadow, one column right and one row down, then the box over it.
  TextBackground(kBlack);
  Window(left + 1, top + 1, right + 1, bottom + 1);
  ClrScr();
  TextBackground(kBlue);
  TextColor(kYellow);
  Window(left, top, right, bottom);
  ClrScr();
  Window(left + 1, top + 1, right - 1, bottom - 1);
  ClrScr();
}

void TerminalPromptRow(uint16_t& row) {
  NewLine();
  // Once the rows reach the bottom of the window, line ends scroll its
  // contents; the input row then stays one above the cursor's row.
  const int limit = ScreenHeight() - 4;
  if (row > limit)
    row = static_cast<uint16_t>(WhereY() - 1);
  else
    row = static_cast<uint16_t>(WhereY());
  GotoXY(1, row);
  WriteText("                : <              ");
  if (row > limit) row = static_cast<uint16_t>(row - 1);
  GotoXY(1, row);
  WriteText(" >");
  GotoXY(2, row);
}

void TerminalClose() {
  FullWindow();
  TextBackground(kLightGrey);
  TextColor(kBlue);
  ClrScr();
}

void TerminalMode(int port) {
  // The interrupted screen gets its text window back when the terminal closes.
  const TextWindow window = CurrentWindow();
  ResetKeys();
  TerminalFrame(kInnerWidth);
  WriteText("*     Quendal VKT Terminal      *");
  TextBackground(kBlack);
  TextColor(kGreen);
  GotoXY(1, 3);
  WriteText(" Send           : Receive    /esc");
  GotoXY(1, 3);

  uint16_t row = 0;
  do {
    TerminalPromptRow(row);
    if (ReadField(KeyBuffer, ShortStr::kMax) >= 0) {
      GotoXY(kAnswerColumn, row);
      // A copy goes out: the key polls while sending add to KeyBuffer.
      const ShortStr command = KeyBuffer;
      ShortStr answer;
      KvExchange(port, command, answer);
      WriteChar(' ');
      WriteText(answer);
    }
    KeyBuffer.Clear();
  } while (!EscAbort);

  ResetKeys();
  TerminalClose();
  SetWindow(window);
}
