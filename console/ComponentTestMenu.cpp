// The component test menu and its first test: the carousel is sent to random
// positions, each move is timed on the T20 settle contact and compared with
// the time taught for its distance.
#include <cstdlib>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/TraceNotes.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "console/NumberPrompt.h"
#include "platform/Crt.h"

namespace {

constexpr int32_t kPositionWord = 0;       // DM0: carousel position command
constexpr int32_t kRotationWord = 1;       // DM1: where the carousel stands
constexpr int32_t kTestEnableWord = 123;   // DM123: component-test enable
constexpr int32_t kCarActivation = 1801;
constexpr int32_t kReadyRelay = 1915;
constexpr int32_t kSettleTimer = 20;       // T20: carousel move finished
// The test always works on a ring of nine, whatever the store has.
constexpr int32_t kRingPositions = 9;
// A move counts when it took more than 0.05 s and less than 2.00 s.
constexpr int32_t kShortestMove = 5;
constexpr int32_t kLongestMove = 200;
// With no pause between moves, a deviation above 0.06 s is an error.
constexpr int32_t kDeviationLimit = 6;

ShortStr Seconds(int32_t hundredths, int width) { return RealStr(hundredths / 100.0, width, 1); }

// The taught time of a path; a path outside the table (a carousel that
// reports a position above nine) has none.
int32_t TaughtTime(int32_t path) { return path >= 0 && path < kPosTimeEntries ? PosTimeTable[path] : 0; }

// Polls the T20 contact back to back until the carousel has settled. Once Esc
// has set EscAbort every exchange answers empty and the contact could never
// be seen: the wait ends then, and the move goes on to the quit question.
void WaitCarrouselSettled() {
  ShortStr answer;
  do {
    KvReadTimer(ComPort, kSettleTimer, answer);
  } while (!(answer == "1") && !EscAbort);
}

// DM1 read until two readings a tenth of a second apart agree.
int32_t SettledPosition() {
  ShortStr answer;
  for (;;) {
    KvReadDm(ComPort, kRotationWord, answer);
    const int32_t first = AnswerWord(answer);
    WaitTenths(1);
    KvReadDm(ComPort, kRotationWord, answer);
    if (AnswerWord(answer) == first) return first;
  }
}

// The pause range, asked until it is a whole number of 0 or more. False when
// the operator leaves with Esc.
bool AskPauseRange(int32_t& range) {
  for (;;) {
    if (!AskNumber("Enter Pause range 0..x s ", range)) return false;
    // A negative range has no wait to draw from.
    if (range >= 0) return true;
    WriteText("The pause range is 0 s or more");
    NewLine();
  }
}

void ShowMenu() {
  ClearWorkArea();
  NewLine();
  for (const MenuRow& row : kComponentMenu) {
    WriteText(MenuLine(row, kComponentMenuLabelWidth));
    NewLine();
  }
  NewLine();
  WriteText("Select now      ");
}

}  // namespace

void ComponentTestMenu() {
  ShortStr answer;
  for (;;) {
    ShowMenu();
    LastKey = UpCase(static_cast<char>(WaitKey()));
    NewLine();

    // A quit answered in the last test must not end the next one before it
    // has begun.
    QuitRequested = false;
    // 3 (the stack has no test) and the keys no row has run nothing.
    const MenuRow* row = FindMenuRow(kComponentMenu, LastKey);
    if (row != nullptr && row->run != nullptr) RunNotedTest(row->label, row->run);

    KvWriteDm(ComPort, kTestEnableWord, 0, answer);
    if (LastKey == static_cast<char>(kEsc)) return;
  }
}

void CarrouselMovementTest() {
  ShortStr answer;
  int32_t pauseRange = 0;
  // Esc at the prompt: back to the menu, nothing moved.
  if (!AskPauseRange(pauseRange)) return;

  int32_t accessCount = 0;
  int32_t errorCount = 0;
  int32_t maxDeviation = 0;
  double timeSum = 0.0;
  int32_t minTime = 2147483647;
  int32_t maxTime = 0;
  LastKey = 0;
  ResetKeys();

  WaitTenths(10);
  KvWaitRelay(ComPort, kReadyRelay);
  KvSetRelay(ComPort, kCarActivation, answer);
  WriteText("Activate Carousel ");
  WriteGlyphs(answer);
  WriteText("  ");

  WaitTenths(10);
  KvWaitRelay(ComPort, kReadyRelay);
  KvWriteDm(ComPort, kPositionWord, 1, answer);
  WriteText("Pos. ");
  WriteGlyphs(answer);
  NewLine();

  WriteText("Init Pos.1 .. ");
  WaitCarrouselSettled();
  ClearWorkArea();

  do {
    const int32_t target = RandomRange(1, kRingPositions);
    const int32_t current = SettledPosition();
    const int32_t path = target >= current ? target - current : target + kRingPositions - current;
    const int32_t wait = RandomRange(0, pauseRange);
    ++accessCount;

    WriteInt(accessCount, 4);
    WriteText(" Pos: ");
    WriteInt(target);
    WriteText(" Pth: ");
    WriteInt(path);
    WriteText(" wt: ");
    WriteInt(wait, 2);
    WriteText(" t0:");
    WriteText(Seconds(TaughtTime(path), 4));
    WriteText(" ");

    WaitSeconds(wait);
    LastKey = 0;
    // Already there: nothing to send, and nothing to count.
    if (path != 0) KvWriteDm(ComPort, kPositionWord, target, answer);

    TimeStamp watch[2];
    StopwatchStart(watch[0], watch[1]);
    WaitCarrouselSettled();
    const int32_t t1 = StopwatchRead(watch[0], watch[1]);

    int32_t deviation = 0;
    if (path > 0 && t1 > kShortestMove && t1 < kLongestMove) {
      if (t1 > maxTime) maxTime = t1;
      if (t1 < minTime) minTime = t1;
      deviation = std::abs(t1 - TaughtTime(path));
      timeSum += t1 / 100.0;
      // " max: " shows the largest deviation of the run so far.
      if (deviation > maxDeviation) maxDeviation = deviation;
    } else {
      --accessCount;  // the next line repeats this number
    }

    WriteText(" t1:");
    WriteText(Seconds(t1, 4));
    WriteText(" te: ");
    WriteText(Seconds(deviation, 3));
    if (pauseRange == 0) {
      if (deviation > kDeviationLimit) ++errorCount;
      WriteText(" Ers: ");
      WriteInt(errorCount, 2);
      WriteText(" max: ");
      WriteText(Seconds(maxDeviation, 3));
      NewLine();
      NewLine();
    } else {
      WriteText(" max: ");
      WriteText(Seconds(maxDeviation, 3));
      NewLine();
    }

    CheckQuit(ComPort);
  } while (!QuitRequested);

  ClearWorkArea();
  ShowBanner();
  WriteText(AtColumn11("Rotation Access Time Summary"));
  NewLine();
  NewLine();
  WriteText(AtColumn11("Access Procedure:   Sequence"));
  NewLine();
  NewLine();
  WriteText(AtColumn11(ShortStr("Total Accesses:        ") + NumStr(accessCount, 4)));
  NewLine();
  WriteText(AtColumn11(ShortStr("Min Acs Time:       ") + Seconds(minTime, 4)));
  NewLine();
  WriteText(AtColumn11(ShortStr("Max Acs Time:       ") + Seconds(maxTime, 4)));
  NewLine();
  // No counted move: the mean is shown as 0.0 rather than 0 / 0.
  const double mean = accessCount > 0 ? timeSum / accessCount : 0.0;
  WriteText(AtColumn11(ShortStr("Mean Acs Time:      ") + RealStr(mean, 4, 1)));
  NewLine();
  WriteText(RuleLine());
  ResetKeys();
  LastKey = static_cast<char>(WaitKey());
}
