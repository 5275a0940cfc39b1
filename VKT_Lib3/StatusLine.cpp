#include "VKT_Lib3/StatusLine.h"

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Globals.h"
#include "VKT_Lib3/ScreenText.h"
#include "VKT_Lib3/Terminal.h"
#include "nbrBase/nbrBase.h"
#include "platform/Crt.h"
#include "platform/System.h"

bool ReadyFlag = false;
uint16_t SysStat = 0;
uint16_t StatusPollPhase = 0;
TimeStamp StatusTimer[2];
bool QuitRequested = false;
TimeStamp ClimateTimer[2];
uint16_t ClimatePhase = 0;
double ClimateTemp = 0, ClimateHumidity = 0, ClimateCO2 = 0, ClimateOpt = 0;
ShortStr ClimateText[4];
uint16_t LastRotPos = 0;

namespace {

constexpr uint8_t kYellow = 14, kRed = 4, kGreen = 2;
constexpr int32_t kStatusWord = 200;   // DM200
constexpr int32_t kReadyRelay = 1915;  // relay 1915
constexpr int32_t kPlateReadyRelay = 1815;
constexpr int32_t kRotationPos = 1;    // DM1
constexpr int32_t kClimateBase = 982;  // DM982..DM985

// Status refreshes come no closer than this (hundredths).
constexpr int32_t kStatusInterval = 50;
// One climate word is read per tick; four ticks make one line.
constexpr int32_t kClimateInterval = 1500;

// Writes on row 1 of the full window and stops where the row ends: a serial
// number or port number of absurd width must not spill onto the work area.
void PutOnRow1(std::string_view text) {
  for (char c : text) {
    if (WhereY() != 1) return;
    WriteChar(static_cast<uint8_t>(c));
  }
}

// Answers of the controller read as numbers: digits up to the first other
// character, as every numeric answer is taken.
double AnswerValue(const ShortStr& answer) { return static_cast<double>(KvValue(answer)); }

uint16_t Advance(uint16_t phase, uint16_t last) {
  return (phase >= last || phase == 0) ? 1 : static_cast<uint16_t>(phase + 1);
}

// Row 1 in the status line's colours: the store's serial number and the
// port, what `middle` writes, and the clock in the last eight columns. The
// status line belongs to the screen's row 1 whatever window the current
// screen draws in; the window, cursor and colours go back as they were. The
// cursor is saved in window coordinates, so the window must be back before
// it is restored.
template <class Middle>
void PaintRow1(Middle middle) {
  GetTime(ClockReading.Hour, ClockReading.Minute, ClockReading.Second, ClockHundredths);
  const TextWindow window = CurrentWindow();
  const uint8_t attr = TextAttr();
  SaveCursor();
  FullWindow();
  GotoXY(1, 1);
  TextColor(kYellow);
  TextBackground(kRed);

  PutOnRow1(ShortStr("Vekton  # ") + NumStr(SerialNumber));
  PutOnRow1(ShortStr("    ComPort ") + NumStr(ComPort, 2));
  PutOnRow1("       ");
  middle();
  if (WhereY() == 1) {
    const int x = WhereX();
    const int gap = ScreenWidth() - 8 - x;
    if (gap >= 0) PutOnRow1(std::string(static_cast<size_t>(gap + 1), ' '));
    PutOnRow1(FormatTime(ClockReading, -1));
  }

  SetWindow(window);
  RestoreCursor();
  SetTextAttr(attr);
}

TimeStamp LostPaintTimer[2];
bool LostPainted = false;

// The status row while the program waits for a line that went away: the
// store cannot be asked, so instead of the system status and Ready it says
// since when the line is lost; the clock goes on. Refreshed as often as the
// normal row.
void PaintLineLost(int /*port*/) {
  if (LostPainted && StopwatchRead(LostPaintTimer[0], LostPaintTimer[1]) <= kStatusInterval) return;
  StopwatchStart(LostPaintTimer[0], LostPaintTimer[1]);
  LostPainted = true;
  const TimeStamp wentAt = ComLineLosses().wentAt;
  PaintRow1([&wentAt] {
    ClockReadingRec went = ClockReading;
    went.Hour = wentAt.hour;
    went.Minute = wentAt.minute;
    went.Second = wentAt.second;
    PutOnRow1(ShortStr("Line lost ") + FormatTime(went, -1));
  });
  FlushOutput();
}

}  // namespace

void PaintStatusLine() {
  PaintRow1([] {
    PutOnRow1(StatusPollPhase == 1 ? "->" : "<-");
    PutOnRow1("       SysStat $");
    // Five columns at most; with the widest serial and port numbers there is
    // still room, but never let it wrap.
    if (WhereY() == 1 && WhereX() + 4 <= ScreenWidth()) {
      ShortStr hex;
      HexWord(SysStat, hex);
    }
    PutOnRow1("    Ready ");
    PutOnRow1(ReadyFlag ? "1" : "0");
  });
}

bool DrawStatusLine() {
  if (PollKey() == kEsc) return false;
  if (static_cast<uint16_t>(StopwatchRead(StatusTimer[0], StatusTimer[1])) <= kStatusInterval) {
    Delay(1);
    return false;
  }
  StopwatchStart(StatusTimer[0], StatusTimer[1]);
  StatusPollPhase = Advance(StatusPollPhase, 2);

  ShortStr answer;
  if (StatusPollPhase == 1) {
    KvReadDm(ComPort, kStatusWord, answer);
    // A garbled answer still gives a number: whatever is not a digit counts 0.
    ShortStr digits;
    for (size_t i = 0; i < answer.size(); ++i) digits += (answer[i] >= '0' && answer[i] <= '9') ? answer[i] : '0';
    SysStat = static_cast<uint16_t>(KvValue(digits));
  } else {
    KvReadRelay(ComPort, kReadyRelay, answer);
    ReadyFlag = answer == "1";
  }
  PaintStatusLine();
  return true;
}

void UpdateStatusLine() {
  const bool refreshed = DrawStatusLine();
  if (!refreshed || !LogToFile) return;
  if (StopwatchRead(ClimateTimer[0], ClimateTimer[1]) <= kClimateInterval) return;

  StopwatchStart(ClimateTimer[0], ClimateTimer[1]);
  ClimatePhase = Advance(ClimatePhase, 4);
  ShortStr answer;
  KvReadDm(ComPort, kClimateBase + ClimatePhase - 1, answer);
  switch (ClimatePhase) {
    case 1:
      ClimateTemp = AnswerValue(answer);
      return;
    case 2:
      ClimateHumidity = AnswerValue(answer);
      return;
    case 3:
      ClimateCO2 = AnswerValue(answer);
      return;
    default:
      break;
  }
  ClimateOpt = AnswerValue(answer);
  // Bit 15 of the temperature word is the sign, the rest the magnitude.
  if (ClimateTemp > 32768.0) ClimateTemp = 32768.0 - ClimateTemp;
  ClimateTemp /= 10;
  ClimateHumidity /= 10;
  ClimateCO2 /= 100;
  ClimateText[0] = RealStr(ClimateTemp, 5, 1);
  ClimateText[1] = RealStr(ClimateHumidity, 5, 1);
  ClimateText[2] = RealStr(ClimateCO2, 5, 1);
  ClimateText[3] = RealStr(ClimateOpt, 5, 1);
  WriteResultLine(ClimateText[0] + ClimateText[1] + ClimateText[2] + ClimateText[3]);
}

void ClearWorkArea() {
  ClrScr();
  GotoXY(1, 2);
  UpdateStatusLine();
}

bool CheckQuit(int /*port*/) {
  if (PollKey() != kEsc || QuitRequested) return QuitRequested;
  ResetKeys();

  // The question covers the start of the screen's row 1, whatever window the
  // interrupted screen draws in; that screen gets everything back after.
  const TextWindow window = CurrentWindow();
  const int x = WhereX(), y = WhereY();
  const uint8_t attr = TextAttr();
  FullWindow();
  GotoXY(1, 1);
  TextColor(kYellow);
  TextBackground(kGreen);
  WriteText("          ");
  GotoXY(2, 1);
  WriteChar(7);
  WriteText("Quit/Term ? ");
  FlushOutput();

  uint8_t key = ReadKey();
  if (key == 0) {
    ReadKey();  // an extended key's scan code is no answer either
  }
  key = static_cast<uint8_t>(UpCase(static_cast<char>(key)));

  bool result = false;
  ResetKeys();
  EscAbort = false;
  if (key == 'Q' || key == 'Y') {
    QuitRequested = true;
    result = true;
  } else {
    QuitRequested = false;
    if (key == 'T') TerminalMode(ComPort);
  }

  SetWindow(window);
  GotoXY(x, y);
  SetTextAttr(attr);
  return result;
}

void WaitReady(int port) {
  for (;;) {
    UpdateStatusLine();
    if (ReadyFlag) return;
    if (CheckQuit(port)) return;
    // Nothing to do before a key or the next status poll: sleep until then
    // (the poll's last hundredth is stepped through by the status line).
    if (const uint32_t ms = StopwatchSleepMs(StatusTimer[0], kStatusInterval); ms > 0) ComWait(ms, 0);
  }
}

void WaitRelayOn(int port, int32_t relay) {
  ShortStr answer;
  KvReadDm(port, kRotationPos, answer);
  LastRotPos = static_cast<uint16_t>(KvValue(answer));
  WriteInt(LastRotPos, 2);
  WriteChar(' ');
  for (;;) {
    WaitTenths(1);
    UpdateStatusLine();
    bool on;
    if (relay == kReadyRelay) {
      // The status line polls this relay already; no extra read for it.
      on = ReadyFlag;
    } else {
      KvReadRelay(port, relay, answer);
      on = answer == "1";
    }
    if (on) return;
    if (CheckQuit(port)) return;
  }
}

void WaitReadyRelay(int port) { WaitRelayOn(port, kReadyRelay); }

void WaitPlateReady(int port) { WaitRelayOn(port, kPlateReadyRelay); }

char CountDown(int port, int32_t seconds) {
  if (PollKey() == kEsc || QuitRequested) return static_cast<char>(kEsc);
  int width = 1;
  for (int32_t v = seconds; v >= 10; v /= 10) ++width;

  for (int32_t n = seconds; n >= 0 && !CheckQuit(port); --n) {
    WriteInt(n, width);
    WriteText(" s");
    WaitSeconds(1);
    for (int i = 0; i < width + 2; ++i) WriteChar(8);
    UpdateStatusLine();
  }
  WriteInt(0, width);
  WriteText(" s");
  return 0;
}

void StatusLineInit() {
  ReadyFlag = false;
  SysStat = 0;
  StatusPollPhase = 0;
  StatusTimer[0] = StatusTimer[1] = TimeStamp{};
  QuitRequested = false;
  ClimateTimer[0] = ClimateTimer[1] = TimeStamp{};
  ClimatePhase = 0;
  ClimateTemp = ClimateHumidity = ClimateCO2 = ClimateOpt = 0;
  for (auto& t : ClimateText) t.Clear();
  LastRotPos = 0;
  LostPaintTimer[0] = LostPaintTimer[1] = TimeStamp{};
  LostPainted = false;
  SetLineWaitHook(PaintLineLost);
}
