// The main menu loop. Every choice runs inside its own "CR" ... "CQ" bracket:
// the port is closed while the menu waits, opened for the operation, and the
// store's geometry is read fresh before the choices whose row asks for it.
// The menu's lines, the geometry reads and the dispatch all come from the
// rows of kMainMenu (Console.h).
#include <string>

#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/TraceNotes.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"

namespace {

// Once the line's trace has stopped, the menu's last line says so: the
// bottom row of the banner's window, below everything the menu and the
// bracket after the choice write. It is cut short of the window's last
// column, where a character would scroll the window, and the cursor goes
// back to the prompt.
void ShowTraceNotice() {
  const size_t width = static_cast<size_t>(WindMax() % 256 - WindMin() % 256);
  std::string notice;
  if (!TraceStoppedNotice(notice, width)) return;
  const int x = WhereX();
  const int y = WhereY();
  const int bottom = WindMax() / 256 - WindMin() / 256 + 1;
  GotoXY(1, bottom);
  WriteGlyphs(notice);
  GotoXY(x, y);
}

void ShowMenu() {
  for (const MenuRow& row : kMainMenu) {
    if (row.label == nullptr) continue;
    WriteText(AtColumn11(MenuLine(row, kMainMenuLabelWidth)));
    NewLine();
  }
  NewLine();
  NewLine();
  WriteText(RuleLine());
  NewLine();
  WriteText(AtColumn11("Enter [0..6]                    "));
  ShowTraceNotice();
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

// Whether the geometry is read before the choice: as its row says, and for a
// key no row has, when it comes after "3" in character-code order.
bool ReadsGeometry(const MenuRow* row, char choice) {
  if (row != nullptr) return row->geometry == Geometry::Read;
  return static_cast<uint8_t>(choice) > static_cast<uint8_t>('3');
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
    const char choice = UpCase(MenuChoice);
    const MenuRow* row = FindMenuRow(kMainMenu, choice);
    NoteChoice(MenuChoice, row != nullptr ? row->label : nullptr);

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

    if (ReadsGeometry(row, choice)) RefreshConfiguration();
    // 0 and the keys no row has go straight to the loop end.
    if (row != nullptr && row->run != nullptr) {
      if (row->kind == RowKind::Test)
        RunNotedTest(row->label, row->run);
      else
        row->run();
    }

    ResetKeys();
    KvCommQuit(ComPort, CommAnswer);
    WriteText(CommAnswer);
    NewLine();
    if (MenuChoice == kQuitKey) {
      ComClose(ComPort);
      TextBackground(0);
      TextColor(7);
      FullWindow();
      ClrScr();
      return;
    }
  }
}
