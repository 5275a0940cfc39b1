// The program's main body: start-up dialogue, the first connection check and
// the hand-over to the menu loop.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/Motion.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/TraceNotes.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"
#include "platform/System.h"

namespace {

// Asks until the operator types a whole number. Anything else (or Esc) gets
// the prompt again on a fresh line: there is nothing sensible to open without
// a port number, and the program has no other way to learn it.
int32_t AskPortNumber() {
  for (;;) {
    WriteText("Enter Port Number to Vekton  ");
    int32_t value = 0;
    NumberEntry entry = ReadNumberLine(value);
    if (entry == NumberEntry::Ok) return value;
    // Esc leaves the cursor behind the prompt; a rejected line has moved on.
    if (WhereX() != 1) NewLine();
  }
}

void AskOperatorName() {
  WriteText("Enter Operator Name          ");
  ShortStr name;
  if (!ReadTextLine(name)) {
    NewLine();  // Esc left the cursor behind the prompt
    name.Clear();
  }
  OperatorName = name.empty() ? ShortStr("Default User") : name;
}

}  // namespace

uint16_t AnswerWord(const ShortStr& answer) {
  int32_t v = KvValue(answer);
  if (v < 0) return 0;
  // A DM word cannot exceed 65535; a garbled answer that does is held at the
  // top instead of wrapping round to a small (or zero) count.
  if (v > 0xFFFF) return 0xFFFF;
  return static_cast<uint16_t>(v);
}

void StartUp() {
  DosVersionNumber = DosVersion();

  TextBackground(7);
  TextColor(1);
  ClrScr();
  ResetKeys();
  CommAnswer.Clear();
  KeyBuffer.Clear();
  Window(1, 1, 80, 25);
  ClrScr();

  ComPort = AskPortNumber();
  AskOperatorName();
  // The trace's file begins here, with who works on which port.
  NoteRunHeader(OperatorName.view(), ComPort);

  WriteText("Open Comport ");
  int result = KvOpenPort(ComPort);
  WriteInt(result);
  NewLine();

  if (result == 0) {
    WriteText("Communication Request to Hardware ");
    KvCommRequest(ComPort, CommAnswer);
    if (CommAnswer == "CC") {
      WriteText(CommAnswer);
      NewLine();
      KvReadDm(ComPort, 109, CommAnswer);
      SerialNumber = KvValue(CommAnswer);
      KvReadDm(ComPort, 108, CommAnswer);
      FirmwareVersion = AnswerWord(CommAnswer);
      KvCommQuit(ComPort, CommAnswer);
      WriteText(CommAnswer + " Closed");
      RandomizeFromClock();
    } else {
      WriteText("No Communication to Hardware...");
    }
  } else {
    WriteText("Unable to open Comport...");
  }
  WaitTenths(5);
}

int VektonMain() {
  StartUp();
  MainLoop();
  return 0;
}

void InitAllUnits() {
  ComLib3Init();
  GlobalsInit();
  ScreenTextInit();
  StatusLineInit();
  MotionInit();
  for (const MenuRow& row : kMainMenu)
    if (row.init != nullptr) row.init();
}
