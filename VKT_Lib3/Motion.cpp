#include "VKT_Lib3/Motion.h"

#include <algorithm>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Globals.h"
#include "VKT_Lib3/StatusLine.h"
#include "comLib3/comLib3.h"
#include "platform/Crt.h"

SlotTableRec SlotTable;
uint32_t AccessNumber = 0;
uint32_t LoadCount = 0, UnloadCount = 0;
int32_t ReadyTime = 0, PlateTime = 0;
HandlingGroup HandlingStats[3];
uint16_t TimeHistogram[kHistogramBins + 1][6];
int32_t FixedInterval = 0;
int32_t RandomIntervalMax = 0;
bool MeasurePlateReady = false;
int32_t CurrentPos = 0, CurrentLevel = 0;
uint16_t CurrentRotPos = 999;
int32_t CarPosErrors = 0;

namespace {

TimeStamp AccessWatch[2];

// Answers are shown as the controller sent them, each byte as its glyph.
void ShowAnswer(const ShortStr& answer) { WriteGlyphs(answer.view()); }

void Count(uint16_t& counter) {
  if (counter < UINT16_MAX) ++counter;
}

void Bin(int32_t hundredths, int allColumn, int32_t relay) {
  const int32_t bin = std::clamp<int32_t>(hundredths / 50, 0, kHistogramBins);
  Count(TimeHistogram[bin][allColumn]);
  Count(TimeHistogram[bin][allColumn + (IsLoadRelay(relay) ? 1 : 2)]);
}

void Accumulate(HandlingGroup& g) {
  g.ReadyMax = std::max(g.ReadyMax, ReadyTime);
  g.ReadyMin = std::min(g.ReadyMin, ReadyTime);
  g.ReadySum += ReadyTime / 100.0;
  g.PlateMax = std::max(g.PlateMax, PlateTime);
  g.PlateMin = std::min(g.PlateMin, PlateTime);
  g.PlateSum += PlateTime / 100.0;
}

// The carousel position as its letter ('A' for 1). DM1 comes from the wire:
// whatever value it holds, the letter is drawn as a glyph and never acts on
// the cursor.
void WritePositionLetter(uint16_t position) {
  const char letter = static_cast<char>(static_cast<uint8_t>(position + 64));
  WriteGlyphs(std::string_view(&letter, 1));
}

// A command that sets the store moving takes its Ready away at once, but the
// flag the ready waits look at is the one the status line polled last,
// before the command. Taken as it stands, the next wait would end at once
// and the following access would overwrite DM0 and DM5 while the store is
// still busy with this one. So the flag is dropped here, and the wait lasts
// until a poll of relay 1915 after the command reports Ready again.
void StoreTookCommand() { ReadyFlag = false; }

int32_t ClampCassette(int32_t c) { return std::clamp<int32_t>(c, 0, kMaxCassettes); }
int32_t ClampLevel(int32_t l) { return std::clamp<int32_t>(l, 0, kMaxLevels); }

}  // namespace

void RotateTo(int port, int32_t position) {
  WaitReady(port);
  if (!CheckQuit(port)) {
    ShortStr answer;
    KvWriteDm(port, 0, position, answer);
    StoreTookCommand();
  }
}

void AccessSlot(int port, int32_t position, int32_t level, int32_t relay) {
  if (EscAbort || CheckQuit(port)) return;
  WriteText("  ");
  WaitReady(port);
  // A quit answered in that wait leaves it at once, the store not ready:
  // no access is commanded into it.
  if (QuitRequested) return;
  ShortStr answer;
  KvWriteDm(port, 0, position, answer);
  ShowAnswer(answer);
  WriteChar(' ');
  KvWriteDm(port, 5, level, answer);
  ShowAnswer(answer);
  WriteChar(' ');
  KvSetRelay(port, relay, answer);
  StoreTookCommand();
  ShowAnswer(answer);
  WriteChar(' ');
  WaitReady(port);
}

void TimedAccess(int port, int32_t relay, char tag, bool measurePlateReady) {
  ++AccessNumber;
  LastRotPos = 999;
  WaitTime = RandomIntervalMax > 0 ? RandomRange(0, RandomIntervalMax) : FixedInterval;
  WaitTenths(1);
  WaitReady(port);
  // As in AccessSlot: after a quit in the wait nothing is commanded, and
  // the access that did not happen is not counted.
  if (QuitRequested) {
    --AccessNumber;
    return;
  }

  WriteInt(SlotTable.AccessFloor, 3);
  WriteChar(' ');
  WriteInt(AccessNumber, 3);
  WriteText("   ");
  WriteChar(static_cast<uint8_t>(kFieldSeparator));
  WriteChar(static_cast<uint8_t>(tag));
  WriteInt(CurrentPos, 3);
  WriteChar('/');
  WriteInt(CurrentLevel, 2);

  ShortStr answer;
  KvWriteDm(port, 0, CurrentPos, answer);
  WriteChar(static_cast<uint8_t>(kFieldSeparator));
  WriteChar('P');
  ShowAnswer(answer);
  KvWriteDm(port, 5, CurrentLevel, answer);
  WriteChar(static_cast<uint8_t>(kFieldSeparator));
  WriteChar('L');
  ShowAnswer(answer);
  KvSetRelay(port, relay, answer);
  StoreTookCommand();
  WriteChar(static_cast<uint8_t>(kFieldSeparator));
  ShowAnswer(answer);
  WriteChar(static_cast<uint8_t>(kFieldSeparator));

  StopwatchStart(AccessWatch[0], AccessWatch[1]);
  if (measurePlateReady) {
    WaitPlateReady(port);
    PlateTime = StopwatchRead(AccessWatch[0], AccessWatch[1]);
    Bin(PlateTime, kPlateAll, relay);
  } else {
    PlateTime = 0;
  }
  WaitReadyRelay(port);
  ReadyTime = StopwatchRead(AccessWatch[0], AccessWatch[1]);
  Bin(ReadyTime, kReadyAll, relay);

  if (ReadyTime > 10 && ReadyTime < 10000 && !CheckQuit(port)) {
    Accumulate(HandlingStats[kGroupAll]);
    if (IsLoadRelay(relay)) {
      ++LoadCount;
      Accumulate(HandlingStats[kGroupLoad]);
    } else {
      ++UnloadCount;
      Accumulate(HandlingStats[kGroupUnload]);
    }
  } else {
    --AccessNumber;
  }

  WriteChar(static_cast<uint8_t>(kFieldSeparator));
  WriteText("At ");
  WriteReal(ReadyTime / 100.0, 4, 1);
  WriteChar(' ');
  WriteReal(PlateTime / 100.0, 4, 1);
  WriteChar(' ');
  WaitReady(port);
  if (WaitTime > 0) {
    KvSetRelay(port, 1903, answer);
    StoreTookCommand();
    ShowAnswer(answer);
  } else {
    WriteText("  ");
  }
  auto waitField = [] {
    WriteChar(static_cast<uint8_t>(kFieldSeparator));
    WriteText("Wt");
    WriteInt(WaitTime, 3);
    WriteChar(static_cast<uint8_t>(kFieldSeparator));
  };
  waitField();
  if (RandomIntervalMax > 0) {
    WatchCarousel(port);
  } else {
    waitField();
    CountDown(port, WaitTime);
  }
  NewLine();
}

int32_t ReadRotPos(int port) {
  ShortStr answer;
  KvReadDm(port, 1, answer);
  int32_t pos = KvValue(answer);
  if (pos == 0) {
    WaitTenths(2);
    KvReadDm(port, 1, answer);
    pos = KvValue(answer);
  }
  return pos;
}

void WatchCarousel(int port) {
  // In tenths from here on; an absurd entry stays at the top instead of
  // wrapping negative.
  WaitTime = WaitTime > INT32_MAX / 10 ? INT32_MAX : (WaitTime < INT32_MIN / 10 ? INT32_MIN : WaitTime * 10);
  LastRotPos = static_cast<uint16_t>(ReadRotPos(port));
  WritePositionLetter(LastRotPos);
  WriteChar(' ');
  if (EscAbort) return;
  ShortStr answer;
  for (;;) {
    WaitTenths(1);
    CurrentRotPos = static_cast<uint16_t>(ReadRotPos(port));
    if (CurrentRotPos == LastRotPos && !EscAbort) {
      KvReadRelay(port, 1915, answer);
      if (!(answer == "1")) continue;
    }
    if (CurrentRotPos != LastRotPos && CurrentRotPos > 0 && !EscAbort) {
      WritePositionLetter(CurrentRotPos);
      // Position 1 may only follow the last position: anything else means
      // the carousel skipped or lost its count.
      if (CurrentRotPos == 1 && LastRotPos != CarPosCount && LastRotPos != 999) {
        WriteChar('<');
        ++CarPosErrors;
      }
      LastRotPos = CurrentRotPos;
    }
    if (CheckQuit(port)) return;
    KvReadRelay(port, 1915, answer);
    if (answer == "1") return;
  }
}

void PickRandomSlot(SlotTableRec& table, int32_t& cassette, int32_t& level) {
  const int32_t cassettes = ClampCassette(table.CassetteCount);
  int32_t total = 0;
  for (int32_t c = 1; c <= cassettes; ++c) total += ClampLevel(table.LevelsPerCassette[c]);
  if (total == 0) {
    // Nothing to choose from: drawing would never end. The callers check
    // for an empty table before they start.
    cassette = 0;
    level = 0;
    return;
  }
  int32_t remaining;
  for (;;) {
    remaining = table.SlotCount;
    cassette = ClampCassette(RandomRange(1, cassettes));
    const int32_t levels = ClampLevel(table.LevelsPerCassette[cassette]);
    if (levels == 0) continue;  // a cassette without levels offers no slot: draw again
    level = RandomRange(1, levels);
    if (table.AccessCount[cassette][level] <= table.AccessFloor) {
      ++table.AccessCount[cassette][level];
      return;
    }
    int32_t above = 0;
    for (int32_t c = 1; c <= cassettes; ++c)
      for (int32_t l = 1; l <= ClampLevel(table.LevelsPerCassette[c]); ++l)
        if (table.AccessCount[c][l] > table.AccessFloor) ++above;
    remaining = table.SlotCount - above;
    // A slot count larger than the slots in the table would keep the draw
    // going for ever once every real slot is above the floor.
    if (above >= total) remaining = 0;
    if (remaining <= 0) break;
  }
  if (remaining == 0) ++table.AccessFloor;
}

void ThreePlateStep(int port, int32_t c, int32_t L, int32_t N) {
  const int32_t next = c < N ? c + 1 : 1;
  // Each round lifts the block one level, up to the top of the cassette. In
  // a cassette of three levels the block is at the top already: a round
  // there would put a plate on a level that does not exist.
  int32_t i = 1;
  if (L > 3) {
    do {
      AccessSlot(port, c, i + 1, 1908);
      AccessSlot(port, c, i + 3, 1909);
      AccessSlot(port, c, i, 1908);
      AccessSlot(port, c, i + 1, 1909);
      ++i;
    } while (!(i > L - 3 || CheckQuit(port)));
  }
  if (CheckQuit(port)) return;
  if (Relay1703Flag) {
    AccessSlot(port, c, L - 1, 1908);
    AccessSlot(port, next, 3, 1909);
  } else {
    AccessSlot(port, c, L - 1, 1905);
  }
  AccessSlot(port, c, L - 2, 1908);
  AccessSlot(port, next, 1, 1909);
  AccessSlot(port, c, L, 1908);
  AccessSlot(port, next, 2, 1909);
  if (!Relay1703Flag) AccessSlot(port, next, 3, 1904);
}

void MotionInit() {
  SlotTable = SlotTableRec{};
  AccessNumber = LoadCount = UnloadCount = 0;
  ReadyTime = PlateTime = 0;
  for (auto& g : HandlingStats) g = HandlingGroup{};
  for (auto& row : TimeHistogram)
    for (auto& c : row) c = 0;
  FixedInterval = RandomIntervalMax = 0;
  MeasurePlateReady = false;
  CurrentPos = CurrentLevel = 0;
  CurrentRotPos = 999;
  CarPosErrors = 0;
}
