// Test sequence over all slots: with one plate in the store, the handler
// carries it through every slot of every cassette in a fixed order (load into
// the slot, unload it again), pass after pass, until the operator quits. The
// quick form visits only the lowest and the top level of each cassette; the
// inverse form works on filled cassettes and takes each plate out before
// putting it back. Every access prints the controller's three answers, so
// the screen is the test's log.
#include <algorithm>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "console/NumberPrompt.h"
#include "console/TestSequences.h"
#include "platform/Crt.h"

uint16_t TopLiftPosition = 0;
bool BiLevel = false;
char XferMode = 'N';
char InverseMode = 'N';
char QuickMode = 'N';
char Answer = 0;
int32_t StartLevel = 1;
int32_t StartSlot = 1;
uint16_t BlankLevel = 0;
bool FirstPass = true;
int32_t CycleCount = 0;

void TestSequencesInit() {
  TopLiftPosition = 0;
  BiLevel = false;
  XferMode = InverseMode = QuickMode = 'N';
  Answer = 0;
  StartLevel = StartSlot = 1;
  BlankLevel = 0;
  FirstPass = true;
  CycleCount = 0;
}

void RefuseTest(std::string_view why) {
  if (WhereX() != 1) NewLine();
  WriteText(why);
  NewLine();
  WriteText("Press any key ");
  WaitKey();
  NewLine();
}

void FillSlotTable() {
  const bool ownLevels = FirmwareVersion >= kCassetteLevelFirmware;
  SlotTable = SlotTableRec{};
  AccessNumber = 0;
  SlotTable.AccessFloor = 0;
  SlotTable.SlotCount = 0;
  SlotTable.CassetteCount = CarPosCount;
  if (SlotTable.CassetteCount > kMaxCassettes) {
    WriteText("Cassettes reported: ");
    WriteInt(CarPosCount);
    WriteText(", only 1..");
    WriteInt(kMaxCassettes);
    WriteText(" are tested");
    NewLine();
    SlotTable.CassetteCount = kMaxCassettes;
  }
  if (!ownLevels && LevelCount > kMaxLevels) {
    WriteText("Levels reported: ");
    WriteInt(LevelCount);
    WriteText(", only 1..");
    WriteInt(kMaxLevels);
    WriteText(" are tested");
    NewLine();
  }
  for (int32_t c = 1; c <= SlotTable.CassetteCount; ++c) {
    int32_t levels = LevelCount;
    if (ownLevels) {
      ShortStr answer;
      KvReadDm(ComPort, 250 + c, answer);
      levels = AnswerWord(answer) & 0xFF;
      WriteInt(c, 2);
      WriteChar(' ');
      WriteInt(levels);
      if (levels > kMaxLevels) {
        WriteText(", only 1..");
        WriteInt(kMaxLevels);
        WriteText(" are tested");
      }
      NewLine();
    }
    levels = std::min(levels, kMaxLevels);
    SlotTable.LevelsPerCassette[c] = levels;
    SlotTable.SlotCount += levels;
  }
}

// The plate count and the lift value of the top level, which it derives
// (with BiLevel) from the geometry.
void ShowGeometry() {
  NewLine();
  WriteText("Plates ");
  WriteInt(SlotTable.SlotCount);
  BiLevel = CarPosCount > CarPosPerGroup;
  uint16_t top = static_cast<uint16_t>(LevelPitch * (LevelCount - 1) + LiftBase);
  if (BiLevel) top = static_cast<uint16_t>(top + GroupLiftOffset);
  TopLiftPosition = top;
  NewLine();
  WriteText("Lift ");
  WriteInt(TopLiftPosition);
  NewLine();
}

namespace {

constexpr uint8_t kBell = 7;

bool NewFirmware() { return FirmwareVersion >= kCassetteLevelFirmware; }
int32_t LoadRelay() { return XferMode == 'Y' ? 1904 : 1909; }
int32_t UnloadRelay() { return XferMode == 'Y' ? 1905 : 1908; }

// Sets DM0's value for cassette c and, where each cassette has its own count,
// the top level to visit.
void Address(int32_t c) {
  if (NewFirmware()) {
    CurrentPos = -c;
    LevelCount = static_cast<uint16_t>(SlotTable.LevelsPerCassette[c]);
  } else {
    CurrentPos = c;
  }
}

// The cassettes that fit the table: the first group runs 1..last, and the
// second-group partner of c is visited only when it lies in the table too.
int32_t LastFirstGroupCassette() { return std::min<int32_t>(CarPosPerGroup, SlotTable.CassetteCount); }
bool HasPartner(int32_t c) { return BiLevel && c + CarPosPerGroup <= SlotTable.CassetteCount; }

// The test stops when the operator has answered the quit question. An Esc
// read while the store was ready leaves the abort pending without a
// question (the ready wait ends on the flag first), and every access after
// it would return at once: the loops would run round without end. So the
// question is put here, after every access line.
bool StopRequested() { return CheckQuit(ComPort); }

// The set-up dialogue. False when the operator left it with Esc: nothing has
// moved yet, and the menu comes back.
bool SetUpDialogue() {
  if (!AskKey("Standard Test [Y/Q/N] ", Answer)) return false;
  EchoKey(Answer);
  if (Answer == 'N') {
    char key = 0;
    if (!AskKey("X-fer Station [Y/N] ", key)) return false;
    XferMode = key == 'Y' ? 'Y' : 'N';
    EchoKey(key);
    if (!AskKey("Quick Test [Y/N]   ", key)) return false;
    QuickMode = key;
    EchoKey(key);
    if (QuickMode != 'Y') {
      int32_t value = 0;
      if (!AskNumber("Enter Start Level [1]      ", value)) return false;
      // Top first, then bottom: a store that reports no levels still starts
      // at level 1, never at 0.
      if (value > LevelCount) value = LevelCount;
      if (value < 1) value = 1;
      StartLevel = value;
      if (!AskNumber("Enter Start Slot [1]       ", value)) return false;
      StartSlot = value;
      if (!AskNumber("Enter Blank Level [0=none] ", value)) return false;
      // Outside a DM word's range no level can match it: none.
      BlankLevel = (value < 0 || value > 0xFFFF) ? 0 : static_cast<uint16_t>(value);
    }
  } else {
    XferMode = 'N';
    StartLevel = 1;
    StartSlot = 1;
    BlankLevel = 0;
    QuickMode = Answer == 'Q' ? 'Y' : 'N';
  }
  char key = 0;
  if (!AskKey("Inverse Mode [Y/N]         ", key)) return false;
  InverseMode = key == 'Y' ? 'Y' : 'N';
  EchoKey(InverseMode);
  return true;
}

void CycleHead(int32_t level) {
  WriteText("Cyc ");
  WriteInt(CycleCount, 3);
  WriteText("  Lvl ");
  WriteInt(level, 2);
  WriteText("  Pos ");
  WriteInt(CurrentPos, 2);
}

// The levels of the cassette just addressed, each loaded and unloaded (the
// other way round in inverse mode: the slots hold plates and the shovel is
// empty). The first group prints each access on its own line, the second
// both on one. Counts the slots visited; false when the test is to stop.
bool FullLevels(bool oneLine, int32_t& visited) {
  const bool inverse = InverseMode == 'Y';
  const char* firstLabel = inverse ? "   Unload " : "   Load ";
  const char* secondLabel = inverse ? "   Load " : "   Unload ";
  const int32_t firstRelay = inverse ? UnloadRelay() : LoadRelay();
  const int32_t secondRelay = inverse ? LoadRelay() : UnloadRelay();
  for (int32_t level = StartLevel; level <= LevelCount; ++level) {
    if (level == BlankLevel) continue;
    ++visited;
    CycleHead(level);
    WriteText(firstLabel);
    AccessSlot(ComPort, CurrentPos, level, firstRelay);
    if (!oneLine) {
      NewLine();
      if (StopRequested()) return false;
    }
    WriteText(secondLabel);
    AccessSlot(ComPort, CurrentPos, level, secondRelay);
    NewLine();
    if (StopRequested()) return false;
  }
  return true;
}

void FullSequence() {
  for (;;) {
    int32_t first = FirstPass ? StartSlot : 1;
    const bool wholePass = !FirstPass || first <= 1;
    FirstPass = false;
    // A start slot below 1 names no cassette (and no entry of the table).
    first = std::max<int32_t>(first, 1);
    int32_t visited = 0;
    for (int32_t c = first; c <= LastFirstGroupCassette(); ++c) {
      Address(c);
      if (!FullLevels(false, visited)) return;
      if (HasPartner(c)) {
        Address(c + CarPosPerGroup);
        if (!FullLevels(true, visited)) return;
      }
    }
    ++CycleCount;
    if (QuitRequested) return;
    // A pass over every cassette that finds no slot to visit (start level
    // above every cassette's top, the blank level the only one) would go
    // round for ever without waiting or looking at the keyboard.
    if (wholePass && visited == 0) {
      RefuseTest("No slot to visit with these settings.");
      return;
    }
  }
}

void QuickLine(int32_t level) {
  CycleHead(level);
  if (InverseMode == 'Y') {
    WriteText("  UnLd ");
    AccessSlot(ComPort, CurrentPos, level, UnloadRelay());
    WriteText("  Load ");
    AccessSlot(ComPort, CurrentPos, level, LoadRelay());
  } else {
    WriteText("  Laod ");
    AccessSlot(ComPort, CurrentPos, level, LoadRelay());
    WriteText("  Unload ");
    AccessSlot(ComPort, CurrentPos, level, UnloadRelay());
  }
  NewLine();
}

// The lowest and the top level of the cassette just addressed. A cassette
// that reports no levels has neither: it is passed over.
bool QuickCassette() {
  if (LevelCount == 0) return false;
  QuickLine(1);
  QuickLine(LevelCount);
  return true;
}

void QuickSequence() {
  for (;;) {
    int32_t visited = 0;
    for (int32_t c = 1; c <= LastFirstGroupCassette(); ++c) {
      Address(c);
      if (QuickCassette()) ++visited;
      if (HasPartner(c)) {
        Address(c + CarPosPerGroup);
        if (QuickCassette()) ++visited;
      }
      if (StopRequested()) return;
    }
    ++CycleCount;
    if (QuitRequested) return;
    if (visited == 0) {
      RefuseTest("No slot to visit with these settings.");
      return;
    }
  }
}

void ShowWarning() {
  WaitTenths(5);
  WriteText("             ! WARNING !");
  NewLine();
  WriteText("! Remove all Plates from Cassettes except one !");
  NewLine();
  WriteText("!      Put Plate in Pos 1.1                   !");
  NewLine();
  WriteChar(kBell);
  WriteChar(kBell);
  NewLine();
  WriteText("Detected Levels: ");
  WriteInt(LevelCount);
  WriteText("            CarPos: ");
  WriteInt(CarPosCount);
  NewLine();
  NewLine();
}

void StartRun() {
  ShortStr answer;
  WaitTenths(1);
  WaitReady(ComPort);
  WriteText("Activate Carousel ");
  KvSetRelay(ComPort, 1801, answer);
  WriteGlyphs(answer);
  NewLine();
  WriteText("Check Ready: ");
  WaitReady(ComPort);
  if (InverseMode != 'Y') {
    if (XferMode == 'Y') {
      WriteText("Unload Plate from 1,1: ");
      AccessSlot(ComPort, 1, 1, 1905);
    } else {
      WriteText("Pick Plate form 1,1: ");
      AccessSlot(ComPort, 1, 1, 1908);
    }
    NewLine();
  }
  ClearWorkArea();
}

}  // namespace

void AllSlotsTest() {
  FullWindow();
  ClearWorkArea();
  CycleCount = 1;
  FirstPass = true;
  ShortStr answer;
  KvReadDm(ComPort, 108, answer);
  FirmwareVersion = AnswerWord(answer);

  FillSlotTable();
  ShowGeometry();
  if (SlotTable.SlotCount == 0) {
    RefuseTest("The store reports no levels: there is no slot to test.");
    return;
  }
  ShowWarning();
  // Only the table's levels are visited (the store's own count was shown).
  if (LevelCount > kMaxLevels) LevelCount = kMaxLevels;

  if (!SetUpDialogue()) return;

  StartRun();
  if (QuitRequested) return;
  if (QuickMode == 'Y')
    QuickSequence();
  else
    FullSequence();
}
