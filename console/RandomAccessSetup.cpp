// Random-access test, set-up: the statistics of the last run cleared, the
// store's geometry detected, the slot table built, the operator's options
// asked, and the carousel activated. Then the result file opens, the run
// goes on until the operator quits, and the summary closes the file.
#include <climits>
#include <cstring>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "console/NumberPrompt.h"
#include "console/RandomAccess.h"
#include "platform/Crt.h"

char TestMode = 'B';
uint16_t CarSelect = 0;
bool PlateTrace = false;
bool NegativeAddressing = false;
int32_t PrevRotPos = 0;
uint16_t MoveDistance = 0;
uint16_t ParkRotPos = 0;
char LastCountDownKey = 0;

void RandomAccessInit() {
  TestMode = 'B';
  CarSelect = 0;
  PlateTrace = false;
  NegativeAddressing = false;
  PrevRotPos = 0;
  MoveDistance = 0;
  ParkRotPos = 0;
  LastCountDownKey = 0;
  ResultFileName.Clear();
  ResultFileExitHook = false;
}

bool CarSelected(int32_t position) {
  if (CarSelect == 2) return position % 2 != 0;
  if (CarSelect == 3) return position % 2 == 0;
  return true;
}

namespace {

void ResetStatistics() {
  for (HandlingGroup& g : HandlingStats) {
    g.ReadySum = g.PlateSum = 0.0;
    g.ReadyMin = g.PlateMin = INT32_MAX;
    g.ReadyMax = g.PlateMax = 0;
  }
  std::memset(TimeHistogram, 0, sizeof TimeHistogram);
  CarPosErrors = 0;
  AccessNumber = 0;
  LoadCount = UnloadCount = 0;
  CycleCount = 0;
  LastRotPos = 999;
  WaitTime = 0;
  RandomIntervalMax = 0;
  BlankLevel = 0;
  LastCountDownKey = 0;
}

// DM25 is read until two readings 200 ms apart agree: the controller may
// still be taking over a new cassette set-up. False when the operator gave
// up with Esc (a controller whose count never settles would keep the test
// here for good otherwise).
bool DetectLevels() {
  ShortStr answer;
  uint16_t first = 0, second = 0;
  do {
    KvReadDm(ComPort, 25, answer);
    first = AnswerWord(answer);
    WaitTenths(2);
    KvReadDm(ComPort, 25, answer);
    second = AnswerWord(answer);
  } while (first != second && PollKey() != kEsc);
  LevelCount = second;
  RandomizeFromClock();
  return !EscAbort;
}

// A key straight from the console, not echoed; an extended key's second
// code is no answer and is dropped. False on Esc.
bool SilentKey(const char* prompt, char& key) {
  WriteText(prompt);
  uint8_t k = ReadKey();
  if (k == 0) {
    ReadKey();
  } else if (k == kEsc) {
    NewLine();
    return false;
  }
  key = UpCase(static_cast<char>(k));
  return true;
}

// A number that names a level or a car: outside a word's range it can
// match nothing, which is what 0 means.
uint16_t WordOrNone(int32_t value) { return (value < 0 || value > 0xFFFF) ? 0 : static_cast<uint16_t>(value); }

void StandardSetUp() {
  TestMode = 'B';
  PlateTrace = true;
  XferMode = 'Y';
  BlankLevel = 0;
  MeasurePlateReady = true;
  CarSelect = 0;
  NegativeAddressing = FirmwareVersion > kLookUpTableFirmware;
  RandomIntervalMax = 0;
}

bool CustomSetUp() {
  if (!AskKey("Test Carrousel, Handler, Both [C,H,B] ", TestMode)) return false;
  EchoKey(TestMode);
  int32_t value = 0;
  if (TestMode != 'C') {
    if (!AskKey("Include X-fer Station ", XferMode)) return false;
    EchoKey(XferMode);
    if (!AskNumber("Blank Level [0=none]  ", value)) return false;
    BlankLevel = WordOrNone(value);
  }
  CarSelect = 0;
  if (CarPosPerGroup >= 20) {
    if (!AskNumber("VKT1000 1=Both Cars, 2=Left, 3=Right ", value)) return false;
    CarSelect = WordOrNone(value);
  }
  char key = 0;
  if (!SilentKey("Plate Tracing [Y/N] ", key)) return false;
  PlateTrace = key == 'Y';
  if (!SilentKey("Negative DM0 Addressing  [Y/N] ", key)) return false;
  NegativeAddressing = key == 'Y';
  MeasurePlateReady = XferMode != 'N';
  NewLine();

  int32_t n = 0;
  if (!AskNumber("Enter Interval Time [n=min,0=Random Sec,-1=sec]: ", n)) return false;
  WaitTime = n;
  if (n > 0) {
    FixedInterval = n > INT32_MAX / 60 ? INT32_MAX : n * 60;
  } else if (n == 0) {
    if (!AskNumber("Enter Max. Random Interval [Sec]   ", RandomIntervalMax)) return false;
    FixedInterval = 0;
  } else {
    if (!AskNumber("Enter Interval Time (>1sec)        ", FixedInterval)) return false;
  }
  return true;
}

// The dialogue; false when the operator left it with Esc.
bool Dialogue() {
  char key = 0;
  if (!AskKey("Standard Test [Y/N] ", key)) return false;
  EchoKey(key);
  if (key == 'N') {
    if (!CustomSetUp()) return false;
  } else {
    StandardSetUp();
    if (!AskNumber("Enter Interval Time (>1sec)        ", FixedInterval)) return false;
  }
  if (!AskKey("Invers. Mode [Y/N]    ", key)) return false;
  InverseMode = key == 'Y' ? 'Y' : 'N';
  EchoKey(InverseMode);
  return true;
}

bool AnyPosition() {
  for (int32_t p = 1; p <= CarPosCount; ++p)
    if (CarSelected(p)) return true;
  return false;
}

// The run draws until it finds what the options allow; with nothing to
// find it would draw for ever with the store standing still. So the options
// are checked against the store here, before anything moves.
bool SomethingToDraw() {
  if (!AnyPosition()) {
    RefuseTest("No carousel position belongs to the selected car.");
    return false;
  }
  if (TestMode == 'C') return true;
  if (TestMode == 'H') {
    if (LevelCount == 0) {
      RefuseTest("The store reports no levels: there is no slot to test.");
      return false;
    }
    if (LevelCount == 1 && BlankLevel == 1) {
      RefuseTest("The blank level is the only level: there is no slot to test.");
      return false;
    }
    return true;
  }
  if (SlotTable.SlotCount == 0) {
    RefuseTest("The store reports no levels: there is no slot to test.");
    return false;
  }
  for (int32_t c = 1; c <= SlotTable.CassetteCount; ++c)
    if (CarSelected(c) && SlotTable.LevelsPerCassette[c] > 0) return true;
  RefuseTest("No cassette of the selected car has a level: there is no slot to test.");
  return false;
}

void ActivateCarrousel() {
  ClearWorkArea();
  WriteText("Levels detected: ");
  WriteInt(LevelCount);
  WriteText("    RotPos detected: ");
  WriteInt(CarPosCount);
  ShortStr answer;
  KvSetRelay(ComPort, 1801, answer);
  WriteText("; Access ");
  WriteGlyphs(answer);
  WriteText("; Waiting for Ready ");
  WaitReady(ComPort);
  NewLine();
}

}  // namespace

bool RandomAccessSetUp() {
  FullWindow();
  ClearWorkArea();
  ResetStatistics();
  if (!DetectLevels()) return false;

  ShortStr answer;
  KvReadDm(ComPort, 108, answer);
  FirmwareVersion = AnswerWord(answer);
  FillSlotTable();
  ShowGeometry();
  WaitTenths(5);

  if (!Dialogue()) return false;
  if (!SomethingToDraw()) return false;
  ActivateCarrousel();
  return true;
}

void RandomAccessTest() {
  if (!RandomAccessSetUp()) return;

  OpenResultFile();
  // A fresh round of climate readings for every file: its first line comes
  // after a whole minute, from four readings of this run.
  ClimatePhase = 0;
  StopwatchStart(ClimateTimer[0], ClimateTimer[1]);
  StopwatchStart(StatusTimer[0], StatusTimer[1]);
  ShortStr answer;
  KvReadDm(ComPort, 1, answer);
  PrevRotPos = KvValue(answer);

  RandomAccessRun();
  RandomAccessSummary();
}
