// Random-access test, the run: the test plate is brought to a known place,
// then one of three loops runs until the operator quits: carousel only
// (random moves timed against the taught positioning times), handler only
// (random levels at the cassette the controller already has: DM0 is never
// written) or both (slots drawn evenly, each loaded and unloaded by a timed
// access, with random lift and carousel moves in between).
#include <algorithm>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "console/RandomAccess.h"
#include "platform/Crt.h"

namespace {

constexpr uint8_t kBar = static_cast<uint8_t>(kFieldSeparator);

TimeStamp MoveWatch[2];

// A command that sets the store moving takes its Ready away at once, but
// the flag WaitReady looks at is the one the status line polled last,
// before the command. Taken as it stands, the wait would end at once: the
// time would read 0 and the next command would go to a store still busy
// with this one. So the flag is dropped, and the wait lasts until a poll
// after the command reports Ready again.
void StoreTookCommand() { ReadyFlag = false; }

// Where is the plate? At the transfer station, on the shovel, or (neither)
// still in slot 1,1. Take it to where the first access of the run expects
// it: the transfer station, or the shovel in shovel mode.
void StartOfRun() {
  if (TestMode == 'C' || InverseMode == 'Y') return;
  ShortStr answer;
  KvReadRelay(ComPort, 1813, answer);
  if (answer == "0") {
    KvReadRelay(ComPort, 1812, answer);
    if (answer == "0") {
      if (XferMode != 'N') {
        WriteText("Unld Plate from 1,1 ");
        AccessSlot(ComPort, 1, 1, 1905);
      } else {
        WriteText("Get Plate from 1,1 ");
        AccessSlot(ComPort, 1, 1, 1908);
      }
    } else if (XferMode != 'N') {
      WriteText("Unld Plate from Shovel ");
      AccessSlot(ComPort, 1, 1, 1906);
    }
  } else if (XferMode == 'N') {
    WriteText("Get Plate from xFerStn ");
    AccessSlot(ComPort, 1, 1, 1907);
  }
  WaitReady(ComPort);
  NewLine();
}

// The taught time of a move over this many positions; a distance the
// table has no entry for has no taught time.
int32_t TaughtTime(uint16_t distance) { return distance < kPosTimeEntries ? PosTimeTable[distance] : 0; }

void WritePositionLetter(uint16_t position) {
  const char letter = static_cast<char>(static_cast<uint8_t>(position + 64));
  WriteGlyphs(std::string_view(&letter, 1));
}

// One carousel move: the line shows the cycle, the target and the distance,
// the letters of the positions passed, the position reached, the taught
// and the measured time, and then a tenth of the interval is waited.
void CarrouselMove() {
  ShortStr answer;
  ++CycleCount;
  do {
    CurrentPos = RandomRange(1, CarPosCount);
  } while (!CarSelected(CurrentPos));
  WaitTime = RandomIntervalMax > 0 ? RandomRange(0, RandomIntervalMax) : FixedInterval;
  int32_t distance = CurrentPos - PrevRotPos;
  if (distance < 0) distance += CarPosCount;
  MoveDistance = static_cast<uint16_t>(distance);
  PrevRotPos = CurrentPos;

  WaitReady(ComPort);
  WriteInt(CycleCount, 3);
  WriteChar(kBar);
  WriteText(" P");
  WriteInt(CurrentPos, 2);
  WriteText("  d");
  WriteInt(MoveDistance, 2);
  WriteChar(kBar);
  // The operator may have answered the quit question while the store got
  // ready: then no new move is started.
  if (QuitRequested) return;
  KvWriteDm(ComPort, 0, CurrentPos, answer);
  StoreTookCommand();
  if (CheckQuit(ComPort)) return;

  StopwatchStart(MoveWatch[0], MoveWatch[1]);
  WriteText(" *");
  // Watching the carousel leaves WaitTime in tenths; the interval drawn
  // above is what this move waits a tenth of.
  const int32_t interval = WaitTime;
  WatchCarousel(ComPort);
  WaitTime = interval;
  ReadyTime = StopwatchRead(MoveWatch[0], MoveWatch[1]);
  // A watch that the operator's quit cut short measured no move time.
  const bool cutShort = QuitRequested;

  KvReadDm(ComPort, 1, answer);
  LastRotPos = AnswerWord(answer);
  GotoXY(50, WhereY());
  WritePositionLetter(LastRotPos);
  WriteText("* ");
  WriteChar(kBar);
  WriteText("tP");
  WriteReal(TaughtTime(MoveDistance) / 100.0, 4, 1);
  WriteText("  tA");
  WriteReal(ReadyTime / 100.0, 4, 1);
  WriteChar(' ');
  WriteChar(kBar);
  WriteText("Wt");
  WriteInt(WaitTime / 10, 3);
  WriteChar('/');
  LastCountDownKey = CountDown(ComPort, WaitTime / 10);
  if (ReadyTime > 0 && ReadyTime < 10000 && !cutShort)
    CountReadyTime(ReadyTime);
  else
    --CycleCount;
  NewLine();
}

void CarrouselOnlyLoop() {
  do {
    CarrouselMove();
    CheckResultFile();
  } while (!EscAbort && !QuitRequested);
}

// A time that could not be taken (no time passed between the command and
// Ready) enters the sum as the mean so far: the mean stays as it is and the
// access is still counted.
void CountMean() {
  HandlingGroup& g = HandlingStats[kGroupAll];
  if (AccessNumber == 0) return;
  g.ReadySum += g.ReadySum / AccessNumber;
  if (AccessNumber < UINT32_MAX) ++AccessNumber;
}

// One half of a handler-only cycle at level CurrentPos: the load (first) or
// the unload. The cassette is whatever DM0 already addresses.
void HandlerHalf(bool load) {
  ShortStr answer;
  WaitReady(ComPort);
  // After a quit answered in the wait the store may still be busy: no new
  // access is sent into it.
  if (QuitRequested) return;
  WriteInt(CycleCount, 3);
  WriteText(" |Lvl");
  WriteInt(CurrentPos, 2);
  KvWriteDm(ComPort, 5, CurrentPos, answer);
  WriteText(" |Acs");
  WriteGlyphs(answer);
  WaitTenths(load ? 2 : 1);
  const bool xfer = XferMode != 'N';
  const int32_t relay = load ? (xfer ? 1904 : 1909) : (xfer ? 1905 : 1908);
  const char* label = load ? (xfer ? "Load" : "Plce") : (xfer ? "UnLd" : "Pick");
  KvSetRelay(ComPort, relay, answer);
  StoreTookCommand();
  WriteChar(kBar);
  WriteText(label);
  WriteGlyphs(answer);

  StopwatchStart(MoveWatch[0], MoveWatch[1]);
  WaitReady(ComPort);
  ReadyTime = StopwatchRead(MoveWatch[0], MoveWatch[1]);
  // A wait that the operator's quit cut short measured no handling time.
  const bool cutShort = QuitRequested;
  WriteChar(kBar);
  WriteText(load ? " AcsTime " : " AcsTm ");
  WriteReal(ReadyTime / 100.0, 4, 1);
  WriteText(" s ");
  KvReadDm(ComPort, 5, answer);
  WriteGlyphs(answer);

  WaitReady(ComPort);
  WriteChar(kBar);
  WriteText(" Wt ");
  WriteInt(WaitTime, load ? 0 : 3);
  WriteChar('/');
  WaitReady(ComPort);
  LastCountDownKey = CountDown(ComPort, WaitTime);

  // A load counts whenever it took any time; an unload only between 0.1 s
  // and 100 s.
  const bool counted = load ? ReadyTime > 0 : (ReadyTime > 10 && ReadyTime < 10000);
  if (!cutShort) {
    if (counted)
      CountReadyTime(ReadyTime);
    else
      CountMean();
  }
  NewLine();
}

void HandlerOnlyLoop() {
  // Only the levels the slot table has room for are tested (the set-up
  // said so when the store reported more).
  const int32_t top = std::min<int32_t>(LevelCount, kMaxLevels);
  for (;;) {
    ++CycleCount;
    do {
      CurrentPos = RandomRange(1, top);
    } while (CurrentPos == BlankLevel);
    WaitTime = RandomIntervalMax > 0 ? RandomRange(1, RandomIntervalMax) : FixedInterval;
    HandlerHalf(true);
    HandlerHalf(false);
    CheckResultFile();
    if (CheckQuit(ComPort)) return;
  }
}

// One timed access at the slot drawn, then the lift to the bottom or the
// top and the carousel to a random position, so that the next access starts
// from somewhere else. The first access of a pass loads (unloads with
// filled cassettes), the second does the reverse.
void TimedVisit(bool first) {
  const bool load = first != (InverseMode == 'Y');
  const bool xfer = XferMode != 'N';
  const int32_t relay = load ? (xfer ? 1904 : 1909) : (xfer ? 1905 : 1908);
  TimedAccess(ComPort, relay, load ? 'L' : 'U', MeasurePlateReady);
  // With random intervals the access watched the carousel, which leaves
  // WaitTime in tenths; the summary reports the interval in seconds.
  if (RandomIntervalMax > 0) WaitTime /= 10;
  // A quit answered during the access: the store may still be busy with it,
  // and no lift or carousel move is sent into it.
  if (QuitRequested) return;

  ShortStr answer;
  KvWriteDm(ComPort, 6, RandomRange(0, 1) * TopLiftPosition, answer);
  do {
    ParkRotPos = static_cast<uint16_t>(RandomRange(1, CarPosCount));
  } while (!CarSelected(ParkRotPos));
  GotoXY(78, WhereY() - 1);
  WriteChar(' ');
  WriteInt(ParkRotPos, 2);
  RotateTo(ComPort, ParkRotPos);
}

void CombinedLoop() {
  if (CheckQuit(ComPort)) return;
  ClearWorkArea();
  ShortStr answer;
  for (;;) {
    int32_t cassette = 0, level = 0;
    do {
      PickRandomSlot(SlotTable, cassette, level);
    } while (!CarSelected(cassette));
    CurrentPos = cassette;
    CurrentLevel = level;
    if (FirmwareVersion >= kLookUpTableFirmware) {
      if (NegativeAddressing)
        CurrentPos = -CurrentPos;
      else
        KvWriteDm(ComPort, 25, SlotTable.LevelsPerCassette[cassette], answer);
    }
    // The half-second pauses space the accesses; once the operator has
    // quit there is nothing left to space, and he waits for the summary.
    if (!CheckQuit(ComPort)) TimedVisit(true);
    if (!QuitRequested) WaitTenths(5);
    if (!CheckQuit(ComPort)) TimedVisit(false);
    if (!QuitRequested) WaitTenths(5);
    CheckResultFile();
    if (CheckQuit(ComPort)) return;
  }
}

}  // namespace

void RandomAccessRun() {
  StartOfRun();
  if (TestMode == 'C')
    CarrouselOnlyLoop();
  else if (TestMode == 'H')
    HandlerOnlyLoop();
  else
    CombinedLoop();
}
