// The terminal side of the console on POSIX: an ncursesw presenter that copies
// the changed cells of the screen model to the terminal when the program
// yields, and the keyboard decoded to the DOS key codes the program expects.
// A terminal smaller than 80 x 25 shows what JudgeDisplaySize says instead
// (the program goes on; only the drawing waits), and gets the whole screen
// again when it is large enough.
//
// Without a terminal (stdin or stdout redirected, or no usable terminal
// description) there is no presenter and the keys are the raw bytes of stdin;
// the end of that input ends the program as a hang-up would.
#include <curses.h>
#include <langinfo.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "platform/Crt.h"
#include "platform/ScreenFit.h"
#include "platform/ScreenModel.h"
#include "platform/posix/PosixInternal.h"

namespace posix {
namespace {

// Flushes closer together than this would only burn time: the waiting loops
// yield about 1000 times a second and the eye sees no difference.
constexpr uint64_t kFlushIntervalUs = 15000;
// A blocking key wait wakes this often to look for signals and resizes.
constexpr int kKeyWaitSliceMs = 100;
// How often a key poll also asks ncurses for what it may hold unseen (keys
// left in its buffer, a KEY_RESIZE of its own; the resizes themselves come
// as our own SIGWINCH flag, see Lifecycle.cpp).
constexpr uint64_t kResizeLookUs = 100000;
// The exit code of a hang-up, used for the end of headless input too.
constexpr int kEndOfInputExit = 128 + 1;

// --- key queue ------------------------------------------------------------------
// Our own small queue, so KeyPressed never has to ask the terminal library
// about keys it already decoded. An extended key takes two bytes and is only
// queued whole.
class KeyQueue {
 public:
  bool Empty() const { return count_ == 0; }
  size_t Room() const { return kSize - count_; }
  bool Push(uint8_t b) {
    if (count_ == kSize) return false;
    buf_[(head_ + count_) % kSize] = b;
    ++count_;
    return true;
  }
  bool PushExtended(uint8_t scan) {
    if (Room() < 2) return false;
    Push(0);
    Push(scan);
    return true;
  }
  // A plain Esc among the queued keys (the second byte of an extended key is
  // a scan code, not a key of its own).
  bool HasEsc() const {
    for (size_t i = 0; i < count_; ++i) {
      const uint8_t b = buf_[(head_ + i) % kSize];
      if (b == 0)
        ++i;
      else if (b == 27)
        return true;
    }
    return false;
  }
  uint8_t Pop() {
    uint8_t b = buf_[head_];
    head_ = (head_ + 1) % kSize;
    --count_;
    return b;
  }

 private:
  static constexpr size_t kSize = 256;
  uint8_t buf_[kSize] = {};
  size_t head_ = 0;
  size_t count_ = 0;
};

enum class Mode { NotStarted, Terminal, Headless, Stopped };

struct Console {
  Mode mode = Mode::NotStarted;
  SCREEN* screen = nullptr;
  KeyQueue keys;
  bool inputEnded = false;
  int emptyWakeups = 0;  // input said readable but yielded nothing, in a row
  bool leftBuffered = false;  // a drain stopped early on a full queue
  uint64_t lastDrainUs = 0;
  // Presenter state.
  bool utf8 = true;
  bool colour = false;
  bool colours16 = false;
  bool fixedPairs = false;  // one pair per palette combination, made up front
  short pairOf[256] = {};   // lazily made pairs when the terminal has few
  short nextPair = 1;
  unsigned lastBell = 0;
  int lastCurX = -1, lastCurY = -1;
  uint64_t lastFlushUs = 0;
  // The terminal's size and what it shows for it (platform/ScreenFit.h).
  ScreenFit fit;
  bool sizeChanged = false;  // to be followed at the next flush
};

Console gCon;

// Palette index (DOS order: black, blue, green, cyan, red, magenta, brown,
// grey) to the terminal's ANSI order (black, red, green, yellow, blue,
// magenta, cyan, white).
constexpr short kDosToAnsi[8] = {COLOR_BLACK, COLOR_BLUE,    COLOR_GREEN,  COLOR_CYAN,
                                 COLOR_RED,   COLOR_MAGENTA, COLOR_YELLOW, COLOR_WHITE};

// --- presenter --------------------------------------------------------------------

// A stand-in for a glyph that a terminal without UTF-8 cannot show.
wchar_t AsciiStandIn(uint8_t ch) {
  if (ch >= 0x20 && ch < 0x7F) return ch;
  switch (ch) {
    case 179: case 186: return L'|';
    case 196: case 205: return L'-';
    case 176: case 177: case 178: return L':';
    case 219: case 220: case 221: case 222: case 223: case 254: return L'#';
    default: break;
  }
  if (ch >= 180 && ch <= 218) return L'+';  // the other box-drawing pieces
  return ch == 0 || ch == 255 ? L' ' : L'?';
}

wchar_t Glyph(uint8_t ch) {
  if (!gCon.utf8) return AsciiStandIn(ch);
  wchar_t wc = static_cast<wchar_t>(kCp437ToUnicode[ch]);
  // Never hand the terminal a control character, and keep every cell one
  // column wide so the rest of the row stays in place.
  if (wc < 0x20 || wcwidth(wc) != 1) return ch >= 0x20 && ch < 0x7F ? ch : L'?';
  return wc;
}

short PairFor(short fg, short bg) {
  if (gCon.fixedPairs) return static_cast<short>(1 + bg * 16 + fg);
  int key = bg * 16 + fg;
  if (gCon.pairOf[key] == 0 && gCon.nextPair < COLOR_PAIRS) {
    init_pair(gCon.nextPair, fg, bg);
    gCon.pairOf[key] = gCon.nextPair++;
  }
  return gCon.pairOf[key];  // 0 (the terminal's default) when out of pairs
}

void DrawCell(int y, int x) {
  const ScreenCell& c = gScreen.cells[y][x];
  const int fg = c.attr & 0x0F, bg = (c.attr >> 4) & 0x0F;
  attr_t attrs = A_NORMAL;
  short pair = 0;
  if (gCon.colour) {
    short f, b;
    if (gCon.colours16) {
      f = static_cast<short>(kDosToAnsi[fg & 7] + (fg & 8));
      b = static_cast<short>(kDosToAnsi[bg & 7] + (bg & 8));
    } else {
      // Bright foregrounds as bold; a bright background cannot be shown.
      f = kDosToAnsi[fg & 7];
      b = kDosToAnsi[bg & 7];
      if (fg & 8) attrs |= A_BOLD;
    }
    pair = PairFor(f, b);
  } else {
    if (fg & 8) attrs |= A_BOLD;
    if (bg != 0) attrs |= A_REVERSE;
  }
  wchar_t text[2] = {Glyph(c.ch), L'\0'};
  cchar_t cc;
  setcchar(&cc, text, attrs, pair, nullptr);
  mvadd_wch(y, x, &cc);  // fails harmlessly outside a small terminal
}

// Rings the terminal's bell for the program's last BEL.
void Ring() {
  beep();
  gCon.lastBell = gScreen.bellCount;
}

void Present(bool force) {
  const bool moved = gScreen.curX != gCon.lastCurX || gScreen.curY != gCon.lastCurY;
  const bool bell = gScreen.bellCount != gCon.lastBell;
  if (!gScreen.anyDirty && !moved && !bell) return;
  const uint64_t now = MonotonicUs();
  if (!force && now - gCon.lastFlushUs < kFlushIntervalUs) return;
  gCon.lastFlushUs = now;
  if (!gCon.fit.fits) {
    // The message stays; the changed cells stay marked for the redraw
    // that follows when the terminal is large enough again.
    if (bell) Ring();
    return;
  }
  if (gScreen.anyDirty) {
    for (int y = 0; y < ScreenModel::kRows; ++y)
      for (int x = 0; x < ScreenModel::kCols; ++x)
        if (gScreen.dirty[y][x]) {
          DrawCell(y, x);
          gScreen.dirty[y][x] = false;
        }
    gScreen.anyDirty = false;
  }
  if (bell) Ring();
  gCon.lastCurX = gScreen.curX;
  gCon.lastCurY = gScreen.curY;
  move(gScreen.curY - 1, gScreen.curX - 1);
  refresh();
}

// The terminal's size now: the kernel's word for it, else what ncurses last
// knew.
void TerminalSize(int& cols, int& rows) {
  cols = COLS;
  rows = LINES;
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 && ws.ws_row > 0) {
    cols = ws.ws_col;
    rows = ws.ws_row;
  }
}

// Takes the terminal's size in and starts its picture afresh, since after a
// resize a terminal may have kept, cut or reflowed what it showed: the whole
// screen model when it fits (at the top left), else the message in the
// space there is. Only ncurses' own drawing, no sequence of our own.
void FollowSize() {
  int cols = 0, rows = 0;
  TerminalSize(cols, rows);
  if (cols != COLS || rows != LINES) resizeterm(rows, cols);
  gCon.fit = JudgeDisplaySize(cols, rows);
  werase(stdscr);
  clearok(curscr, TRUE);
  gCon.lastCurX = gCon.lastCurY = -1;
  if (gCon.fit.fits) {
    gScreen.MarkAllDirty();
    Present(true);
    return;
  }
  attrset(A_NORMAL);
  const auto& lines = gCon.fit.lines;
  for (size_t y = 0; y < lines.size(); ++y)
    mvaddnstr(static_cast<int>(y), 0, lines[y].c_str(), static_cast<int>(lines[y].size()));
  const int lastRow = lines.empty() ? 0 : static_cast<int>(lines.size()) - 1;
  const int lastLen = lines.empty() ? 0 : static_cast<int>(lines.back().size());
  move(lastRow, lastLen < COLS ? lastLen : COLS - 1);
  refresh();
  gCon.lastFlushUs = MonotonicUs();
}

// Picks a UTF-8 character type so the glyphs can be drawn. A locale that is
// not UTF-8 (often just an unset LANG) gets C.UTF-8 for the character type,
// since terminals today speak UTF-8; without it we fall back to ASCII.
// Only the character type: the program's number texts must keep the C
// locale's decimal point whatever LANG says.
void ChooseLocale() {
  std::setlocale(LC_CTYPE, "");
  const char* cs = nl_langinfo(CODESET);
  if (cs && std::strcmp(cs, "UTF-8") == 0) return;
  if (std::setlocale(LC_CTYPE, "C.UTF-8") || std::setlocale(LC_CTYPE, "en_US.UTF-8")) return;
  gCon.utf8 = false;
}

// Escape sequences some terminals (and multiplexers) send for the editing
// and function keys even when their description says otherwise. define_key
// ignores a sequence that is already bound.
void DefineExtraKeys() {
  static const struct {
    const char* seq;
    int code;
  } kExtra[] = {
      {"\033[A", KEY_UP},      {"\033[B", KEY_DOWN},    {"\033[C", KEY_RIGHT},   {"\033[D", KEY_LEFT},
      {"\033OA", KEY_UP},      {"\033OB", KEY_DOWN},    {"\033OC", KEY_RIGHT},   {"\033OD", KEY_LEFT},
      {"\033[H", KEY_HOME},    {"\033[F", KEY_END},     {"\033OH", KEY_HOME},    {"\033OF", KEY_END},
      {"\033[1~", KEY_HOME},   {"\033[4~", KEY_END},    {"\033[7~", KEY_HOME},   {"\033[8~", KEY_END},
      {"\033[2~", KEY_IC},     {"\033[3~", KEY_DC},     {"\033[5~", KEY_PPAGE},  {"\033[6~", KEY_NPAGE},
      {"\033OP", KEY_F(1)},    {"\033OQ", KEY_F(2)},    {"\033OR", KEY_F(3)},    {"\033OS", KEY_F(4)},
      {"\033[11~", KEY_F(1)},  {"\033[12~", KEY_F(2)},  {"\033[13~", KEY_F(3)},  {"\033[14~", KEY_F(4)},
      {"\033[15~", KEY_F(5)},  {"\033[17~", KEY_F(6)},  {"\033[18~", KEY_F(7)},  {"\033[19~", KEY_F(8)},
      {"\033[20~", KEY_F(9)},  {"\033[21~", KEY_F(10)}, {"\033[23~", KEY_F(11)}, {"\033[24~", KEY_F(12)},
      {"\033[Z", KEY_BTAB},
  };
  for (const auto& k : kExtra)
    if (key_defined(k.seq) == 0) define_key(k.seq, k.code);
}

void SetUpColours() {
  if (!has_colors() || start_color() == ERR) return;
  gCon.colour = true;
  gCon.colours16 = COLORS >= 16;
  if (!gCon.colours16) return;
  if (COLOR_PAIRS > 256) {
    for (short bg = 0; bg < 16; ++bg)
      for (short fg = 0; fg < 16; ++fg) init_pair(static_cast<short>(1 + bg * 16 + fg), fg, bg);
    gCon.fixedPairs = true;
  }
}

bool StartTerminal() {
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) return false;
  const char* term = getenv("TERM");
  if (!term || !*term) return false;
  ChooseLocale();
  // newterm, unlike initscr, reports a terminal it cannot drive instead of
  // ending the program.
  gCon.screen = newterm(nullptr, stdout, stdin);
  if (!gCon.screen) return false;
  set_term(gCon.screen);
  cbreak();  // not raw: Ctrl-C still raises SIGINT
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  meta(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  nodelay(stdscr, TRUE);
  scrollok(stdscr, FALSE);
  set_escdelay(25);  // Esc must answer at once, not after a second
  curs_set(1);
  DefineExtraKeys();
  SetUpColours();
  // The first frame paints all 80 x 25 cells in their own colours rather
  // than trusting the terminal's default background, or, on a terminal
  // smaller than that, says so.
  gCon.lastBell = gScreen.bellCount;
  gCon.sizeChanged = true;
  return true;
}

// --- keyboard ---------------------------------------------------------------------

// DOS scan code of an ncurses key code, 0 when the key has none.
uint8_t ScanCode(int key) {
  switch (key) {
    case KEY_UP: return 72;
    case KEY_DOWN: return 80;
    case KEY_LEFT: return 75;
    case KEY_RIGHT: return 77;
    case KEY_HOME: case KEY_A1: return 71;
    case KEY_END: case KEY_C1: return 79;
    case KEY_PPAGE: case KEY_A3: return 73;
    case KEY_NPAGE: case KEY_C3: return 81;
    case KEY_IC: return 82;
    case KEY_DC: return 83;
    case KEY_BTAB: return 15;
    case KEY_F(11): return 133;
    case KEY_F(12): return 134;
    default: break;
  }
  if (key >= KEY_F(1) && key <= KEY_F(10)) return static_cast<uint8_t>(59 + (key - KEY_F(1)));
  return 0;
}

void QueueKeyCode(int key) {
  switch (key) {
    case KEY_BACKSPACE: gCon.keys.Push(8); return;
    case KEY_ENTER: gCon.keys.Push(13); return;
    case KEY_RESIZE:
      // Not a key: a new size, followed at the next flush.
      gCon.sizeChanged = true;
      return;
    default: break;
  }
  if (uint8_t scan = ScanCode(key)) gCon.keys.PushExtended(scan);
}

void QueueChar(wint_t wc) {
  switch (wc) {
    case L'\r': case L'\n': gCon.keys.Push(13); return;
    case 127: case 8: gCon.keys.Push(8); return;
    default: break;
  }
  if (wc < 0x80) {
    gCon.keys.Push(static_cast<uint8_t>(wc));
    return;
  }
  int b = UnicodeToCp437(static_cast<char32_t>(wc));
  if (b >= 0) gCon.keys.Push(static_cast<uint8_t>(b));  // no glyph: dropped
}

// Takes everything ncurses has buffered, so no key sits unseen in its buffer
// while KeyPressed only looks at the descriptor. Returns true if anything came.
bool DrainTerminal() {
  bool any = false;
  gCon.leftBuffered = false;
  for (;;) {
    wint_t wc = 0;
    int r = wget_wch(stdscr, &wc);
    if (r == ERR) break;
    any = true;
    if (r == KEY_CODE_YES)
      QueueKeyCode(static_cast<int>(wc));
    else
      QueueChar(wc);
    if (gCon.keys.Room() < 2) {  // the rest waits in ncurses for the next look
      gCon.leftBuffered = true;
      break;
    }
  }
  return any;
}

void DrainHeadless() {
  uint8_t buf[256];
  size_t room = gCon.keys.Room();
  if (room == 0) return;
  ssize_t n = read(STDIN_FILENO, buf, room < sizeof buf ? room : sizeof buf);
  if (n > 0) {
    for (ssize_t i = 0; i < n; ++i) gCon.keys.Push(buf[i]);
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    gCon.inputEnded = true;
  }
}

// Looks at stdin for up to timeoutMs (0: just a look) and queues what came.
void PollInput(int timeoutMs) {
  if (gCon.mode == Mode::Terminal) {
    // ncurses may hold what no descriptor shows, and a program
    // that merely polls may never see stdin readable: ask now and then.
    const uint64_t now = MonotonicUs();
    if (gCon.leftBuffered || now - gCon.lastDrainUs >= kResizeLookUs) {
      gCon.lastDrainUs = now;
      DrainTerminal();
      if (!gCon.keys.Empty()) return;
    }
  }
  pollfd p{STDIN_FILENO, POLLIN, 0};
  int r = poll(&p, 1, timeoutMs);
  if (gCon.mode == Mode::Terminal) {
    if (r == 0) gCon.emptyWakeups = 0;
    // Also after an interruption (a signal): take in what ncurses has.
    if (r > 0 || (r < 0 && errno == EINTR)) {
      if (DrainTerminal()) {
        gCon.emptyWakeups = 0;
      } else if (r > 0) {
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
          gCon.inputEnded = true;  // the terminal went away
        } else if (++gCon.emptyWakeups > 1000) {
          gCon.inputEnded = true;  // readable forever yet nothing to read
        } else {
          usleep(1000);  // never spin on a descriptor that keeps waking us
        }
      }
    }
    return;
  }
  if (r > 0) {
    if (p.revents & POLLNVAL)
      gCon.inputEnded = true;
    else
      DrainHeadless();
  }
}

// True when the input has ended and every key of it has been read. The
// program then ends, unless it is already on its way out (an exit hook that
// polls the keyboard), where the end of input just means no more keys.
bool InputOver() {
  if (!gCon.keys.Empty() || !gCon.inputEnded) return false;
  if (!Exiting()) ExitCleanly(kEndOfInputExit);
  return true;
}

}  // namespace

void ConsoleStart() {
  if (gCon.mode != Mode::NotStarted) return;
  gCon.mode = StartTerminal() ? Mode::Terminal : Mode::Headless;
}

bool ConsoleHasTerminal() { return gCon.mode == Mode::Terminal; }

void ConsoleStop() {
  if (gCon.mode == Mode::Terminal) {
    endwin();
    delscreen(gCon.screen);
    gCon.screen = nullptr;
    std::fflush(stdout);
  }
  if (gCon.mode != Mode::NotStarted) gCon.mode = Mode::Stopped;
}

void ConsoleFlush(bool force) {
  if (gCon.mode != Mode::Terminal) return;
  if (TakeResize()) gCon.sizeChanged = true;
  // A window being dragged sends a stream of sizes: followed no more often
  // than the screen is flushed anyway.
  if (gCon.sizeChanged && (force || MonotonicUs() - gCon.lastFlushUs >= kFlushIntervalUs)) {
    gCon.sizeChanged = false;
    FollowSize();
  }
  Present(force);
}

}  // namespace posix

using posix::gCon;
using posix::Mode;

// Before PlatformInit (tests, benchmarks, tools) and after PlatformShutdown
// there is no keyboard: nothing is pending and a key wait ends at once with
// Esc, which ends every wait. Only PlatformInit, which also arranges the way
// back, takes over the terminal or reads stdin.
bool KeyPressed() {
  posix::Yield();
  if (!gCon.keys.Empty()) return true;
  if (gCon.mode == Mode::NotStarted || gCon.mode == Mode::Stopped) return false;
  posix::PollInput(0);
  posix::InputOver();
  return !gCon.keys.Empty();
}

int posix::KeyWaitFd() {
  if (gCon.mode != Mode::Terminal && gCon.mode != Mode::Headless) return -1;
  return gCon.inputEnded ? -1 : STDIN_FILENO;
}

bool posix::EscQueued() {
  return KeyPressed() && gCon.keys.HasEsc();
}

uint8_t ReadKey() {
  for (;;) {
    // Everything written so far must be on the screen before we block.
    posix::Yield(true);
    if (!gCon.keys.Empty()) return gCon.keys.Pop();
    if (gCon.mode == Mode::NotStarted || gCon.mode == Mode::Stopped) return 27;
    posix::PollInput(posix::kKeyWaitSliceMs);
    if (posix::InputOver()) return 27;
  }
}

void Delay(uint32_t ms) {
  // A delay long enough for the eye is a good moment to show everything.
  posix::Yield(static_cast<uint64_t>(ms) * 1000 >= posix::kFlushIntervalUs);
  if (ms == 0) {
    sched_yield();
    return;
  }
  const uint64_t deadline = posix::MonotonicUs() + static_cast<uint64_t>(ms) * 1000;
  for (;;) {
    const uint64_t now = posix::MonotonicUs();
    if (now >= deadline) break;
    uint64_t left = deadline - now;
    if (left > 50000) left = 50000;  // wake now and then to look for signals
    timespec ts{static_cast<time_t>(left / 1000000), static_cast<long>((left % 1000000) * 1000)};
    nanosleep(&ts, nullptr);  // an interruption ends early; the check follows
    posix::Yield();
  }
}

void FlushOutput() {
  posix::Yield(true);
}
