// Plate, gate, shovel and turn movement tests (component test menu, keys 2,
// 5, 6 and 7): single actuators of the handler driven through their relays.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/ComponentTests.h"
#include "console/Console.h"
#include "console/NumberPrompt.h"
#include "platform/Crt.h"

namespace {

// The controller moves the shovel and the turn unit on host command only
// while DM123 holds this word; the menu writes 0 after every test.
constexpr int32_t kComponentTestEnable = 51873;

// Firmware after 7000 moved the shovel and turn relays from channel 17 to 14.
constexpr uint16_t kRelayMoveFirmware = 7000;
constexpr int32_t kOldShovelRelay = 1701;
constexpr int32_t kOldTurnRelay = 1702;

int32_t ShovelRelay() { return FirmwareVersion > kRelayMoveFirmware ? 1401 : kOldShovelRelay; }
int32_t TurnRelay() { return FirmwareVersion > kRelayMoveFirmware ? 1402 : kOldTurnRelay; }

// Relay commands whose answers are shown. A fresh answer each time: an
// exchange cut short by Esc delivers nothing, and an earlier "OK" must not
// stand in for it.
ShortStr Set(int32_t relay) {
  ShortStr answer;
  KvSetRelay(ComPort, relay, answer);
  return answer;
}
ShortStr Reset(int32_t relay) {
  ShortStr answer;
  KvResetRelay(ComPort, relay, answer);
  return answer;
}

// Enables the component test and learns the firmware again: the relays to
// drive depend on it, and the store may have been reprogrammed since start-up.
void EnableComponentTest() {
  ShortStr answer;
  KvWriteDm(ComPort, 123, kComponentTestEnable, answer);
  ShortStr version;
  KvReadDm(ComPort, 108, version);
  // Nothing delivered (silent line, Esc) is no news: the start-up value
  // stands rather than a 0 that would pick the old relays.
  if (!version.empty()) FirmwareVersion = AnswerWord(version);
}

// The closing reset after a shovel or turn test. It is sent after ResetKeys,
// so it goes out even when the test was left through Esc. Channel 17 is the
// one reset whatever the firmware; on later firmware the relay the test drove
// is reset first, because an Esc between its set and its reset skips that
// reset and would otherwise leave it on.
void CloseComponentTest(int32_t driven, int32_t closing) {
  ResetKeys();
  if (driven != closing) Reset(driven);
  Reset(closing);
}

// Relay 6901 reads "0" while the turn unit is at rest. Once Esc has set
// EscAbort every read answers empty and could never show "0", so the wait
// ends on Esc and the cycle goes on to its quit question.
void WaitTurnAtRest() {
  ShortStr answer;
  for (;;) {
    WaitTenths(1);
    KvReadRelay(ComPort, 6901, answer);
    if (answer == "0") return;
    if (PollKey() == kEsc) return;
  }
}

void WriteCycle(int32_t cycle, const ShortStr& answer) {
  WriteInt(cycle, 6);
  WriteChar(' ');
  WriteGlyphs(answer);
}

}  // namespace

void PlateMovementTest() {
  TimeStamp watch[2];
  WaitReady(ComPort);
  StopwatchStart(watch[0], watch[1]);
  // Ten cycles, but none begun once the operator has asked to stop: the waits
  // for Ready return at once after a quit, and the remaining commands would
  // otherwise hit a store that is still busy, back to back.
  for (int i = 0; i < 10 && !QuitRequested; ++i) {
    Set(1902);
    WaitReady(ComPort);
    Set(1903);
    WaitReady(ComPort);
  }
  const int32_t elapsed = StopwatchRead(watch[0], watch[1]);
  WriteText("Total Time ");
  WriteReal(elapsed / 100.0, 8, 1);
  WriteText(" s ");
  LastKey = static_cast<char>(WaitKey());
}

void GateMovementTest() {
  NewLine();
  int32_t pause = 0;
  if (!AskNumber("Enter Pause [s]     ", pause)) return;
  int32_t openTime = 0;
  if (!AskNumber("Enter Open Time [s] ", openTime)) return;

  int32_t cycle = 0;
  // Tested after the cycle, so a gate that was opened is always closed again.
  do {
    ++cycle;
    WaitReady(ComPort);
    WriteCycle(cycle, Set(1901));
    WaitTenths(5);
    PauseSeconds(openTime);

    WaitReady(ComPort);
    WriteChar(' ');
    WriteGlyphs(Set(1902));
    NewLine();
    // The gate is closed; after a quit no further cycle needs pacing.
    if (!QuitRequested) WaitTenths(5);
    PauseSeconds(pause);
    CheckQuit(ComPort);
  } while (!QuitRequested);
}

void ShovelMovementTest() {
  NewLine();
  int32_t delay = 0;
  if (!AskNumber("Enter Delay [s]    ", delay)) return;
  EnableComponentTest();
  const int32_t relay = ShovelRelay();

  int32_t cycle = 0;
  // No line ends: the entries run on and wrap at the window's edge.
  do {
    ++cycle;
    KvWaitTimer(ComPort, 13);
    WriteCycle(cycle, Set(relay));
    PauseSeconds(delay);

    KvWaitTimer(ComPort, 12);
    WriteCycle(cycle, Reset(relay));
    PauseSeconds(delay);
    CheckQuit(ComPort);
  } while (!QuitRequested);

  CloseComponentTest(relay, kOldShovelRelay);
}

void TurnMovementTest() {
  NewLine();
  int32_t delay = 0;
  if (!AskNumber("Enter Delay [s]    ", delay)) return;
  EnableComponentTest();
  const int32_t relay = TurnRelay();

  int32_t cycle = 0;
  do {
    ++cycle;
    WaitTurnAtRest();
    WriteCycle(cycle, Set(relay));
    PauseSeconds(delay);

    WaitTurnAtRest();
    WriteText("   ");
    WriteGlyphs(Reset(relay));
    NewLine();
    PauseSeconds(delay);
    CheckQuit(ComPort);
  } while (!QuitRequested);

  CloseComponentTest(relay, kOldTurnRelay);
}
