// Lift and SMC 1 movement tests (component test menu, keys 4 and 9): drive
// out by the typed path and back, cycle after cycle, until the operator quits
// or the drive's end switch is found closed.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/NumberPrompt.h"
#include "platform/Crt.h"

namespace {

// What tells the two drives apart: where each half-cycle is written and which
// end switch guards the travel.
struct Drive {
  int32_t address;    // the word that moves the drive
  bool pathIsOut;     // the lift goes to the path itself; the SMC 1 is told "out" (97)
  int32_t outValue;   // SMC 1: command "out"
  int32_t backValue;  // lift: 0; SMC 1: command "back" (96)
  int32_t endSwitch;  // relay read after each cycle
  bool smcSetUp;      // the SMC 1 must learn its two travel points first
};

constexpr Drive kLift{6, true, 0, 0, 15, false};
constexpr Drive kSmc1{50, false, 97, 96, 11, true};

// One DM write whose answer is shown. A fresh answer each time: an exchange
// cut short by Esc delivers nothing, and an earlier "OK" must not stand in.
ShortStr Write(int32_t address, int32_t value) {
  ShortStr answer;
  KvWriteDm(ComPort, address, value, answer);
  return answer;
}

// The SMC 1 learns 0 as its first travel point and the path as its second,
// each as a parameter block (DM300/DM301) that DM51 = 2 and DM50 = 300 hand to
// the drive; then it is sent to the first point. Only the last answer counts.
// Each block waits for a ready store. Once the operator has quit in one of
// those waits they return at once, and the rest of the set-up would go into a
// store that never said it was ready (for a dead line, one slow exchange after
// another): the set-up stops there instead, and the test ends without a cycle.
ShortStr Smc1SetUp(uint16_t path) {
  struct Step {
    int32_t address;
    int32_t value;
  };
  const Step blocks[][2] = {
      {{301, 0}, {300, 35840}},
      {{51, 2}, {50, 300}},
      {{301, path}, {300, 36352}},
      {{51, 2}, {50, 300}},
  };
  for (const auto& block : blocks) {
    WaitReady(ComPort);
    if (QuitRequested) return ShortStr();
    for (const Step& step : block) Write(step.address, step.value);
  }
  WaitReady(ComPort);
  if (QuitRequested) return ShortStr();
  return Write(50, 96);
}

void WriteCycle(int32_t cycle, const ShortStr& answer) {
  WriteInt(cycle, 6);
  WriteChar(' ');
  WriteGlyphs(answer);
}

void RunDriveTest(const Drive& drive) {
  NewLine();
  int32_t typed = 0;
  // The path goes out as a DM word: a number beyond it is asked for again
  // rather than cut to a path nobody typed. A negative one is the word's
  // two's complement (-1 is 65535), as the controller sees it.
  if (!AskWord("Enter Path [h<65535] ", typed)) return;
  const uint16_t path = static_cast<uint16_t>(typed);
  int32_t pause = 0;
  if (!AskNumber("Enter Pause [s]     ", pause)) return;

  int32_t cycle = 0;
  bool hit = false;

  if (drive.smcSetUp) {
    WriteCycle(cycle, Smc1SetUp(path));
    WaitReady(ComPort);
  } else {
    WaitReady(ComPort);
    WriteCycle(cycle, Write(drive.address, drive.backValue));
  }

  // A quit answered in the set-up ends the test before the first cycle; one
  // answered inside a cycle lets the drive come back first.
  while (!QuitRequested && !hit) {
    ++cycle;
    WriteCycle(cycle, Write(drive.address, drive.pathIsOut ? path : drive.outValue));
    WaitReady(ComPort);
    PauseSeconds(pause);

    WriteChar(' ');
    WriteGlyphs(Write(drive.address, drive.backValue));
    NewLine();
    CheckQuit(ComPort);
    WaitReady(ComPort);

    // Read once per cycle, with the drive back and at rest.
    ShortStr answer;
    KvReadRelay(ComPort, drive.endSwitch, answer);
    if (answer == "1") hit = true;
    PauseSeconds(pause);
  }

  if (hit) {
    WriteText("Lift hit z-Init Switch !!! ");
    WaitKey();
  }
}

}  // namespace

void LiftMovementTest() { RunDriveTest(kLift); }

void Smc1MovementTest() { RunDriveTest(kSmc1); }
