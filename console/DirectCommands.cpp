// Direct command console: the operator types host-link commands by hand and
// sees every line the controller sends. Typing, sending and receiving
// interleave in one loop, so this screen writes and reads the port itself
// instead of going through the request/answer exchange. While the operator is
// idle it polls DM200 and the Ready relay in turn to keep row 1 current.
//
// The polls and the typed commands share the line, and every write purges
// it: a command written while the last one's answer is on its way would
// drop that answer, or have its own answer taken for the poll's. So one
// command is in flight at a time: a typed command waits for the poll's
// answer, a poll for the typed command's, each at most kAnswerWaitHundredths.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"

bool StatusPollDue = false;
TimeStamp AccessTimer[2];

void DirectCommandsInit() {
  StatusPollDue = false;
  AccessTimer[0] = TimeStamp{};
  AccessTimer[1] = TimeStamp{};
}

namespace {

constexpr char kStx = 2;
constexpr char kEtx = 3;
constexpr char kLf = 10;
constexpr char kCr = 13;
constexpr char kBs = 8;
constexpr char kBell = 7;

// A received piece that ended in ETX, held until the CR LF that follows it:
// the line reader stops at either end character, and a framed answer
// (STX text ETX CR LF) would otherwise lose its text and show as an empty
// line. Every write purges the port, so a piece never outlives one.
ShortStr PendingPiece;

// How long (hundredths of a second) the answer to the last command written
// holds the next one back. A controller answers within one read time-out
// (52 ms at 9600 baud); a line across the network may take a little longer.
// The hold only ever delays a command, it never drops one: a controller that
// does not answer costs the next command this much.
constexpr int32_t kAnswerWaitHundredths = 10;

// The last command written, poll or typed, and whether anything has come
// since (its answer, as far as the console can tell).
TimeStamp CommandTimer[2];
bool AnswerOwed = false;

// The received line made fit for the screen: printable ASCII as it is, the
// frame characters as angle brackets, line ends dropped, anything else a
// star, so no byte from the wire can act on the display.
ShortStr ConvertForDisplay(const ShortStr& line) {
  ShortStr out;
  for (size_t i = 0; i < line.size(); ++i) {
    const uint8_t c = line.Byte(i);
    if (c >= 32 && c <= 126) out += static_cast<char>(c);
    else if (c == kStx) out += '<';
    else if (c == kEtx) out += '>';
    else if (c == kLf || c == kCr) continue;
    else out += '*';
  }
  return out;
}

int WindowWidth() {
  return (WindMax() & 0xFF) - (WindMin() & 0xFF) + 1;
}

// Redraws the command line on the current row. A line that would reach the
// window's right edge shows only its tail: writing past the edge wraps, and
// every key would push the row one line further down the screen.
void RedrawCommandLine(const ShortStr& command) {
  const int row = WhereY();
  const int width = WindowWidth();
  GotoXY(1, row);
  if (static_cast<int>(command.size()) + 1 < width) {
    for (size_t i = 0; i <= command.size(); ++i) WriteChar(' ');
    GotoXY(1, row);
    WriteText(command);
  } else {
    ClrEol();
    const size_t shown = static_cast<size_t>(width > 1 ? width - 1 : 0);
    WriteText(command.Sub(command.size() - shown));
  }
  Delay(1);
}

// Writes a command (the purge that comes with it drops what is unread) and
// starts waiting for its answer.
void SendCommand(const ShortStr& text) {
  ComWrite(ComPort, text);
  PendingPiece.Clear();
  StopwatchStart(CommandTimer[0], CommandTimer[1]);
  AnswerOwed = true;
}

// The last command's answer has not come and may still: the next command
// would purge it or have its own answer taken for it.
bool AnswerOnItsWay() {
  return AnswerOwed && StopwatchSleepMs(CommandTimer[0], kAnswerWaitHundredths) > 0;
}

void TakePollAnswer(const ShortStr& answer);

// Takes one received line (or framed piece) if one has come: shown, or the
// poll's answer while one is due. False when nothing had come.
bool TakeLine() {
  ShortStr received;
  const int n = ComReadLine(ComPort, received, 255, 1, kEtx, kLf);
  if (n <= 0) return false;
  if (received.back() == kEtx) {
    PendingPiece += received;
    return true;
  }
  AnswerOwed = false;
  if (received.back() != kLf) {
    // Cut off by silence (the reader's error marker): not shown.
    PendingPiece.Clear();
    return true;
  }
  CommAnswer = ConvertForDisplay(PendingPiece + received);
  PendingPiece.Clear();
  if (StatusPollDue) {
    TakePollAnswer(CommAnswer);
  } else {
    WriteText(CommAnswer);
    NewLine();
  }
  return true;
}

// Before a typed command goes out: the answer still owed to the last
// command is taken if it has come, and waited for while it may still come.
// Keys typed meanwhile wait in KeyBuffer; Esc ends the wait.
void AwaitOwedAnswer() {
  while (AnswerOwed && !EscAbort) {
    const bool took = TakeLine();
    if (!AnswerOwed || !AnswerOnItsWay()) return;
    if (took) continue;
    while (!EscAbort && KeyPressed()) PollKey();
    ComWait(StopwatchSleepMs(CommandTimer[0], kAnswerWaitHundredths), ComPort);
  }
}

void TakeKey(uint8_t key, ShortStr& command) {
  if (key == kCr || key == kLf) {
    // One character is not a command the controller knows; a stray key must
    // not reach it.
    if (command.size() > 1) {
      AwaitOwedAnswer();
      SendCommand(command);
    }
    NewLine();
    command.Clear();
    return;
  }
  if (key == kBs) {
    if (!command.empty()) command.PopBack();
    else WriteChar(kBell);
  } else {
    command += static_cast<char>(key);
  }
  RedrawCommandLine(command);
}

void TakePollAnswer(const ShortStr& answer) {
  StatusPollDue = false;
  if (StatusPollPhase == 1) {
    ShortStr digits = answer;
    for (size_t i = 0; i < digits.size(); ++i)
      if (digits[i] < '0' || digits[i] > '9') digits.SetAt(i, '0');
    // Read exactly as the status line's own poll reads it.
    SysStat = static_cast<uint16_t>(KvValue(digits));
  } else {
    ReadyFlag = answer == "1";
  }
  PaintStatusLine();
}

// Sends the next status poll when more than half a second has passed since
// the last one and no typed command's answer is on its way; false when none
// was sent.
bool PollStatusIfDue() {
  TimeStamp now;
  if (static_cast<uint16_t>(StopwatchRead(AccessTimer[0], now)) <= 50) return false;
  if (AnswerOnItsWay()) return false;
  StopwatchStart(AccessTimer[0], AccessTimer[1]);
  StatusPollPhase = StatusPollPhase >= 2 ? 1 : StatusPollPhase + 1;
  // The texts carry a CR of their own and ComWrite adds another: the
  // controller sees each poll followed by an empty line.
  SendCommand(StatusPollPhase == 1 ? ShortStr("RD DM200\r") : ShortStr("RD 1915\r"));
  StatusPollDue = true;
  return true;
}

// How long the idle loop may sleep: until the next poll, or while a poll is
// held back, until the answer it waits for has had its time.
uint32_t IdleSleepMs() {
  const uint32_t ms = StopwatchSleepMs(AccessTimer[0], 50);
  if (ms == 0 && AnswerOnItsWay()) return StopwatchSleepMs(CommandTimer[0], kAnswerWaitHundredths);
  return ms;
}

}  // namespace

void DirectCommands() {
  ClearWorkArea();
  ShortStr command;
  QuitRequested = false;
  DrawStatusLine();
  StatusPollDue = true;
  WriteText("Enter direct commands to KV-PLC, press esc to quit");
  NewLine();

  PendingPiece.Clear();
  AnswerOwed = false;
  while (!EscAbort) {
    uint8_t key = 0;
    if (!KeyBuffer.empty()) key = TakeBufferedKey();
    else PollKey();  // a key lands in KeyBuffer and is taken next pass

    if (key != 0 && !EscAbort) {
      TakeKey(key, command);
      continue;
    }

    if (TakeLine()) continue;
    if (!PollStatusIfDue()) {
      // Nothing received, no poll due (or one held back for an answer):
      // rest a moment. With no typed key left to take either, sleep on
      // until a key, a byte or the poll's last hundredth, which is watched
      // a millisecond at a time.
      const uint32_t ms = IdleSleepMs();
      Delay(1);
      if (ms > 1 && KeyBuffer.empty()) ComWait(ms - 1, ComPort);
    }
  }
}
