// Flag monitor: the technician's live view of the store's sensors. A fixed
// table of input and control relays and a few DM words is read and redrawn in
// place, pass after pass, as fast as the link allows. Keys typed meanwhile
// collect in KeyBuffer (the host-link layer polls the keyboard before every
// byte it sends) and form a command line below the table; Enter sends it as a
// raw host-link command.
#include "KV_Lib3/KV_Lib3.h"
#include "VKT_Lib3/VKT_Lib3.h"
#include "comLib3/comLib3.h"
#include "console/Console.h"
#include "platform/Crt.h"

namespace {

struct MonitorRow {
  const char* leftLabel;
  int32_t leftRelay;
  const char* rightLabel;  // nullptr: the row has no right-hand relay
  int32_t rightRelay;
};

// Rows 2 to 17. The last label says 0013 although the relay is 15: that is
// how the store's documentation names the lift's end switch on this screen.
constexpr MonitorRow kRows[] = {
    {"P0     0000 ", 0, "   Rot.EN   0500 ", 500},
    {"Pn     0001 ", 1, "   GateEN   0501 ", 501},
    {"GtClse 0002 ", 2, "   Rot.Dir  0502 ", 502},
    {"GtOpen 0003 ", 3, "   GateDir  0503 ", 503},
    {"       0004 ", 4, "   CarDrive 0504 ", 504},
    {"F.Door 0005 ", 5, "   LED      0505 ", 505},
    {"SW 2E0 0006 ", 6, nullptr, 0},
    {"SW 2E1 0007 ", 7, "   Acs.     1100 ", 1100},
    {"SW 2E2 0008 ", 8, "   Shaker        ", 1907},
    {"SW 2E3 0009 ", 9, "   SysAct   1801 ", 1801},
    {"PltShv 0010 ", 10, "   KeyVld        ", 1104},
    {"TrnIn  0011 ", 11, nullptr, 0},
    {"ShFrnt 0012 ", 12, "   PlateReady    ", 1815},
    {"ShBk   0013 ", 13, "   Ready    1915 ", 1915},
    {"TrnOut 0014 ", 14, nullptr, 0},
    {"z-Init 0013 ", 15, nullptr, 0},
};

constexpr int kRotPosReads = 8;
constexpr int kAnswerColumn = 15;
constexpr int kCursorPad = 12;  // the command line is padded to this width
constexpr char kCr = 13;
constexpr char kBlockCursor = static_cast<char>(219);

int WindowWidth() { return (WindMax() & 0xFF) - (WindMin() & 0xFF) + 1; }

// Writes text as glyphs, but never into the window's last column: the cursor
// wraps as soon as that column is written, and a garbled answer long enough
// to wrap would push every later row down until row 25 scrolls the whole
// screen, status line included. Normal rows are far shorter than the window.
void Put(std::string_view text) {
  const int width = WindowWidth();
  for (char c : text) {
    if (WhereX() >= width) return;
    WriteGlyphs(std::string_view(&c, 1));
  }
}

// Ends a row: clears what a longer earlier pass left behind, so a value that
// is gone (a silent controller answers nothing) does not stay on screen
// looking current.
void EndRow() {
  ClrEol();
  NewLine();
}

void ShowRelayRows() {
  ShortStr left, right;
  for (const MonitorRow& row : kRows) {
    // The right-hand relay is read first, then the left; both are shown
    // together once both answers are in.
    right.Clear();
    if (row.rightLabel != nullptr) KvReadRelay(ComPort, row.rightRelay, right);
    KvReadRelay(ComPort, row.leftRelay, left);
    Put(row.leftLabel);
    Put(left);
    if (row.rightLabel != nullptr) {
      Put(row.rightLabel);
      Put(right);
    }
    EndRow();
  }
}

void ShowDm(const char* label, int32_t address) {
  ShortStr answer;
  KvReadDm(ComPort, address, answer);
  Put(label);
  Put(answer);
}

// The typed text, as much of it as fits on the row before the cursor block:
// a long line shows its end, the part being typed.
void ShowTyped(std::string_view text) {
  const int width = WindowWidth();
  const size_t room = width > 2 ? static_cast<size_t>(width - 2) : 0;
  if (text.size() > room) text.remove_prefix(text.size() - room);
  WriteGlyphs(text);
}

// Row 22: the command line being typed, or, once it holds a CR, the command
// sent and its answer from column 15.
void ShowCommandLine() {
  if (KeyBuffer.empty()) return;
  const int row = WhereY();
  const size_t cr = KeyBuffer.view().find(kCr);
  if (cr == std::string_view::npos) {
    ShowTyped(KeyBuffer.view());
    WriteGlyphs(std::string_view(&kBlockCursor, 1));
    for (size_t n = KeyBuffer.size(); n < kCursorPad; ++n) WriteChar(' ');
    return;
  }
  // Once Esc is in, nothing would go out and the answer would be empty;
  // keep the line out of it and let the pass end.
  if (EscAbort) return;

  // One line per exchange. Keys typed after the CR (the pass can take two
  // seconds, and a fast typist gets a second line in) stay in KeyBuffer for
  // the next pass instead of being sent glued to this one, where their answer
  // would run into this one's. The CR itself is not part of the command: the
  // exchange ends every line with exactly one.
  const ShortStr command = KeyBuffer.Sub(0, cr);
  const ShortStr rest = KeyBuffer.Sub(cr + 1);
  ShowTyped(command.view());
  WriteChar(' ');  // over the block cursor
  GotoXY(kAnswerColumn, row);
  ShortStr answer;
  KvExchange(ComPort, command, answer);
  Put(answer);
  Put("     ");
  KeyBuffer = rest;
}

void MonitorPass() {
  GotoXY(1, 2);
  ShowRelayRows();
  NewLine();  // row 18 stays empty

  ShowDm("Set.Spd. DM91 ", 91);
  ShowDm("  aSlpe.DM92 ", 92);
  ShowDm("  bSlpe.DM93 ", 93);
  EndRow();

  // The rotation position changes while the carousel turns: it is read
  // several times in place, unless a key wants attention.
  const int x = WhereX(), y = WhereY();
  for (int i = 0; i < kRotPosReads; ++i) {
    GotoXY(x, y);
    ShowDm("Rot.Pos. DM01 ", 1);
    if (PollKey() != 0) break;
  }
  ShowDm("  Accs. DM00 ", 0);
  ShowDm("  AccV. DM02 ", 2);
  EndRow();
  NewLine();

  ShowCommandLine();
}

}  // namespace

void MonitorFlags() {
  ClearWorkArea();
  do {
    MonitorPass();
  } while (!EscAbort);
}
