// Macros: single store functions on one key (gate, end access, carousel
// activation, system reset, a few control relays) and two guided accesses
// that ask for a cassette (and level) number. Below the help table the three
// flags a technician watches while doing so (ErrorFlag, PlateReady, Ready)
// are re-read on every pass.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "console/NumberPrompt.h"
#include "platform/Crt.h"

namespace {

constexpr int32_t kNoKey = 255;

constexpr const char* kHelpTable[] = {
    "Function           Command    Key",
    "",
    "Rot. Position      WR DM0 x  1..9",
    "Enable Rotation    WR DM0 0     0",
    "Gate Open          ST 1901      O",
    "Gate Close         ST 1902      C",
    "End Access         ST 1903      E",
    "BCR                RS 1909      B",
    "CarAct ON          ST 1801      A",
    "System Reset       ST 1900      R",
    "",
    "Quit               --         esc",
};

constexpr int kLiveRow = 18;

int WindowWidth() { return (WindMax() & 0xFF) - (WindMin() & 0xFF) + 1; }

// A controller answer as glyphs, kept off the window's last column so that a
// garbled one cannot wrap and push the screen into a scroll.
void PutAnswer(const ShortStr& answer) {
  const int width = WindowWidth();
  for (size_t i = 0; i < answer.size(); ++i) {
    if (WhereX() >= width) return;
    const char c = answer[i];
    WriteGlyphs(std::string_view(&c, 1));
  }
}

void Entry() {
  Window(1, 1, 80, 25);
  ClearWorkArea();
  WaitTime = 0;
  LastKey = 0;
  for (const char* line : kHelpTable) {
    WriteText(line);
    NewLine();
  }
}

void ShowFlag(const char* label, int32_t relay) {
  ShortStr answer;
  KvReadRelay(ComPort, relay, answer);
  WriteText(label);
  PutAnswer(answer);
  // A flag that no longer answers must not go on showing its old state.
  ClrEol();
  NewLine();
}

void ShowLiveFlags() {
  GotoXY(1, kLiveRow);
  ShowFlag("ErrorFlag  [1814] ", 1814);
  ShowFlag("PlateReady [1815] ", 1815);
  ShowFlag("Ready      [1915] ", 1915);
  NewLine();
  WriteText("Please Select ->  \b");
  NewLine();
}

// The key for this pass, upper case: type-ahead first, then the keyboard.
// kNoKey in WaitTime when there is none.
void TakeKey() {
  if ((KeyPressed() || !KeyBuffer.empty()) && !EscAbort) {
    const uint8_t key = !KeyBuffer.empty() ? TakeBufferedKey() : WaitKey();
    LastKey = UpCase(static_cast<char>(key));
    WaitTime = static_cast<int32_t>(static_cast<uint8_t>(LastKey)) - 48;
  } else {
    WaitTime = kNoKey;
    LastKey = 0;
  }
}

void SingleCommand(bool set, int32_t relay) {
  ShortStr answer;
  if (set) KvSetRelay(ComPort, relay, answer);
  else KvResetRelay(ComPort, relay, answer);
  WriteText(ShortStr(set ? "ST " : "RS ") + NumStr(relay) + " ");
  PutAnswer(answer);
}

bool ModernConsole() { return (DosVersionNumber & 0xFF) > 6; }

// The guided accesses draw in their own window over the lower rows.
void OpenGuidedWindow(uint8_t background, uint8_t text) {
  TextBackground(background);
  TextColor(text);
  Window(8, 18, 72, 25);
  ClearWorkArea();
  NewLine();
}

void RestoreColours(uint8_t background, uint8_t text) {
  TextBackground(background);
  TextColor(text);
}

// Asks for a whole number into WaitTime until one is typed. False when the
// operator gives up with Esc (or Esc is already in): the access is abandoned.
// The number goes to the controller as a DM word, so one beyond the word's
// range is refused too: cut to 16 bits it would name another cassette.
bool AskNumber(const char* prompt) {
  for (;;) {
    if (EscAbort) return false;
    WriteText(prompt);
    switch (ReadNumberLine(WaitTime)) {
      case NumberEntry::Ok:
        if (FitsWord(WaitTime)) return true;
        WriteText(kNotAWordText);
        NewLine();
        break;
      case NumberEntry::Escaped: return false;
      case NumberEntry::NotANumber: break;  // Enter has moved to a new line: ask again there
    }
  }
}

void AnswerChar(char c) {
  CommAnswer.Clear();
  if (c != '\0') CommAnswer += c;
}

// Key B: put a plate into a slot. The store must be ready before the
// operator is asked anything.
void GuidedPut() {
  AnswerChar(KvWaitRelay(ComPort, 1915));
  // Esc ended the wait for a store that never got ready: ask nothing more.
  if (EscAbort) return;

  const bool modern = ModernConsole();
  if (modern) OpenGuidedWindow(1, 7);
  else OpenGuidedWindow(7, 0);
  const auto restore = [modern] {
    if (modern) RestoreColours(7, 1);
    else RestoreColours(0, 7);
  };

  ShortStr answer;
  if (!AskNumber("  Cassette Number : ")) return restore();
  KvWriteDm(ComPort, 0, WaitTime, answer);
  PutAnswer(answer);
  NewLine();
  NewLine();
  WaitTenths(1);

  if (!AskNumber("  Level Number : ")) return restore();
  KvWriteDm(ComPort, 5, WaitTime, answer);
  PutAnswer(answer);
  NewLine();
  NewLine();
  WaitTenths(5);

  KvSetRelay(ComPort, 1909, CommAnswer);
  WaitTenths(1);
  restore();
}

// Key I: take a plate from a cassette and show what the store read from it
// (DM120 and DM121).
void GuidedTakeAndRead() {
  const bool modern = ModernConsole();
  if (modern) OpenGuidedWindow(1, 7);
  else OpenGuidedWindow(15, 0);
  const auto restore = [modern] {
    if (modern) RestoreColours(7, 1);
    else RestoreColours(0, 15);
  };

  ShortStr answer;
  if (!AskNumber("  Cassette Number : ")) return restore();
  KvWriteDm(ComPort, 0, WaitTime, answer);
  PutAnswer(answer);
  NewLine();

  WaitTenths(2);
  AnswerChar(KvWaitRelay(ComPort, 1915));
  KvSetRelay(ComPort, 1908, CommAnswer);
  WaitTenths(2);

  ShortStr dm121, dm120;
  KvReadDm(ComPort, 121, dm121);
  KvReadDm(ComPort, 120, dm120);
  PutAnswer(dm120);
  WriteChar(' ');
  PutAnswer(dm121);
  NewLine();

  // Esc ends this wait too: every wait of the program does.
  WriteText("Press c to continue ");
  for (;;) {
    const uint8_t key = WaitKey();
    if (key == 'c' || key == 'C' || EscAbort) break;
  }
  restore();
}

enum class PassEnd { Next, Redraw, Leave };

PassEnd Pass() {
  ShowLiveFlags();
  WaitTenths(3);
  TakeKey();

  // Echo row (23): the key's code less 48, so digits show as their value.
  if (WaitTime != kNoKey) {
    ClrEol();  // a shorter echo must not sit next to the digits of the last
    WriteInt(WaitTime);
  }
  NewLine();

  PassEnd end = PassEnd::Next;
  switch (LastKey) {
    case 'A': case 'B': case 'C': case 'E': case 'F': case 'I':
    case 'L': case 'O': case 'P': case 'R': case 'S': {
      GotoXY(1, ScreenHeight() - 1);
      ClrEol();  // the last result must not pass for this one's
      WriteChar(static_cast<uint8_t>(LastKey));
      WriteText("  ");
      switch (LastKey) {
        case 'A': SingleCommand(true, 1801); break;
        case 'C': SingleCommand(true, 1902); break;
        case 'E': SingleCommand(true, 1903); break;
        case 'F': SingleCommand(false, 1907); break;
        case 'L': SingleCommand(false, 1810); break;
        case 'O': SingleCommand(true, 1901); break;
        case 'P': SingleCommand(true, 1810); break;
        case 'R': SingleCommand(true, 1900); break;
        case 'S': SingleCommand(true, 1907); break;
        case 'B':
          GuidedPut();
          end = PassEnd::Redraw;
          break;
        case 'I':
          GuidedTakeAndRead();
          end = PassEnd::Redraw;
          break;
        default: break;
      }
      break;
    }
    default: break;
  }

  LastKey = 0;
  if (end == PassEnd::Redraw) return end;
  return EscAbort ? PassEnd::Leave : PassEnd::Next;
}

}  // namespace

void Macros() {
  for (;;) {
    Entry();
    PassEnd end;
    do {
      end = Pass();
    } while (end == PassEnd::Next);
    if (end == PassEnd::Leave) return;
  }
}
