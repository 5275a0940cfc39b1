// The main menu loop. Every choice runs inside its own "CR" ... "CQ" bracket:
// the port is closed while the menu waits, opened for the operation, and the
// store's geometry is read fresh before any screen that moves plates.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/crt.h"

namespace {

void ShowMenu() {
  static const char* const kLines[] = {
      "Direct Commands                 1", "Monitor Flags                   2",
      "Macros                          3", "Teach Positioning Times         4",
      "Component Test / Error Cntrs    5", "Test Sequence all Slots         6",
      "Test Sequence Random Access     7", "Test 3-Plate Squence            8",
      "Quit                            0",
  };
  for (const char* line : kLines) {
    WriteText(AtColumn11(line));
    NewLine();
  }
  NewLine();
  NewLine();
  WriteText(RuleLine());
  NewLine();
  WriteText(AtColumn11("Enter [0..6]                    "));
}

// One line from the operator; its first character is the choice. An empty
// line gives the line end, Esc gives Esc: neither names a screen.
char ReadMenuChoice() {
  ShortStr line;
  if (!ReadTextLine(line)) return static_cast<char>(kEsc);
  if (line.empty()) return 13;
  return line[0];
}

// The geometry every test reads; DM29 and DM46 are corrected so that no
// later division by the group size sees 0.
void RefreshConfiguration() {
  KvReadDm(ComPort, 25, CommAnswer);
  LevelCount = AnswerWord(CommAnswer);
  KvReadDm(ComPort, 29, CommAnswer);
  CarPosCount = AnswerWord(CommAnswer);
  KvReadDm(ComPort, 46, CommAnswer);
  CarPosPerGroup = AnswerWord(CommAnswer);
  KvReadDm(ComPort, 47, CommAnswer);
  GroupLiftOffset = AnswerWord(CommAnswer);
  KvReadDm(ComPort, 23, CommAnswer);
  LevelPitch = AnswerWord(CommAnswer);
  KvReadDm(ComPort, 22, CommAnswer);
  Dm22Word = AnswerWord(CommAnswer);
  KvReadDm(ComPort, 20, CommAnswer);
  LiftBase = AnswerWord(CommAnswer);
  KvReadRelay(ComPort, 1703, CommAnswer);
  Relay1703Flag = CommAnswer == "1";

  if (CarPosCount == 0) CarPosCount = 9;
  if (CarPosPerGroup == 0 || CarPosCount % CarPosPerGroup != 0) CarPosPerGroup = CarPosCount;
}

void Dispatch(char choice) {
  switch (choice) {
    case '1': DirectCommands(); break;
    case '2': MonitorFlags(); break;
    case '3': Macros(); break;
    case '4': TeachPositionTimes(); break;
    case '5': ComponentTestMenu(); break;
    case '6': AllSlotsTest(); break;
    case '7': RandomAccessTest(); break;
    case '8': ThreePlateTest(); break;
    case 'S': ServiceStatistics(); break;
    default: break;  // 0 and unknown keys go straight to the loop end
  }
}

}  // namespace

void MainLoop() {
  for (;;) {
    ClrScr();
    ShowBanner();
    ComClose(ComPort);
    LogToFile = false;

    ShowMenu();
    MenuChoice = ReadMenuChoice();

    ResetKeys();
    QuitRequested = false;
    LastKey = 0;
    NewLine();

    WriteText("Open Comport   -> ");
    WriteInt(KvOpenPort(ComPort));
    KvCommRequest(ComPort, CommAnswer);
    WriteText(CommAnswer);
    NewLine();

    KvReadDm(ComPort, 109, CommAnswer);
    SerialNumber = KvValue(CommAnswer);
    KvWriteDm(ComPort, 123, 0, CommAnswer);

    const char choice = UpCase(MenuChoice);
    // Character-code order: 4..9, the letters and everything above "3".
    if (static_cast<uint8_t>(choice) > static_cast<uint8_t>('3')) RefreshConfiguration();

    Dispatch(choice);

    ResetKeys();
    KvCommQuit(ComPort, CommAnswer);
    WriteText(CommAnswer);
    NewLine();
    if (MenuChoice == '0') {
      ComClose(ComPort);
      TextBackground(0);
      TextColor(7);
      FullWindow();
      ClrScr();
      return;
    }
  }
}
