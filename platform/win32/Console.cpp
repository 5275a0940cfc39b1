// The console side on Windows: a presenter that copies the changed cells of
// the screen model to an 80 x 25 Win32 console when the program yields, and
// the keyboard read with ReadConsoleInput and turned into the DOS key codes
// the program expects (0, then the scan code, for arrows and function keys).
// A console window smaller than 80 x 25 shows what JudgeDisplaySize says
// instead (the program goes on; only the drawing waits) and gets the whole
// screen again when it is large enough. "Smaller" is the visible window, not
// the buffer: the buffer may hold all 80 x 25 cells while the window shows a
// part of them with scroll bars, which hides the status line and prompts
// from the technician as surely as a small terminal does.
//
// With standard output redirected there is no presenter; with standard input
// redirected the keys are its raw bytes, and the end of that input ends the
// program as the closing of the console would.
#include <windows.h>

#include <cstring>

#include "platform/Crt.h"
#include "platform/ScreenFit.h"
#include "platform/ScreenModel.h"
#include "platform/win32/Win32Internal.h"

namespace win32 {
namespace {

// Flushes closer together than this would only burn time: the waiting loops
// yield about 1000 times a second and the eye sees no difference.
constexpr uint64_t kFlushIntervalUs = 15000;
// A blocking key wait wakes this often even without an event.
constexpr DWORD kKeyWaitSliceMs = 100;
// The exit code of the console going away, used for the end of headless
// input too (as on POSIX, 128 + SIGHUP).
constexpr int kEndOfInputExit = 129;
// The code page of the program's texts and keys.
constexpr UINT kCodePage = 437;
// How often the presenter also asks the console for its window's size: a
// window resized without its buffer (a console that keeps an 80 x 25 buffer
// and gives a smaller window scroll bars) sends no buffer-size event.
constexpr uint64_t kSizeLookUs = 500000;

// --- key queue ------------------------------------------------------------------
// Our own small queue: an extended key takes two bytes and is only queued
// whole, and KeyPressed never has to ask the console again for a key it
// already decoded.
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
  // An Esc among the queued keys (not the scan code of an extended key).
  bool HasEsc() const {
    for (size_t i = 0; i < count_; ++i) {
      const uint8_t b = buf_[(head_ + i) % kSize];
      if (b == 27) return true;
      if (b == 0) ++i;  // the scan code that follows
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

enum class Mode { NotStarted, Console, Headless, Stopped };

// What the console was like before we took it over, to give it back.
struct Saved {
  UINT inputCp = 0, outputCp = 0;
  DWORD inputMode = 0, outputMode = 0;
  bool haveInputMode = false, haveOutputMode = false;
  CONSOLE_SCREEN_BUFFER_INFO info{};
  bool haveInfo = false;
  CONSOLE_CURSOR_INFO cursor{};
  bool haveCursor = false;
};

struct Console {
  Mode mode = Mode::NotStarted;
  HANDLE in = INVALID_HANDLE_VALUE;
  HANDLE out = INVALID_HANDLE_VALUE;
  bool consoleKeys = false;  // keys come as console input events
  bool inputIsPipe = false;  // headless: standard input is a pipe
  Saved saved;
  KeyQueue keys;
  bool inputEnded = false;
  unsigned lastBell = 0;
  int lastCurX = -1, lastCurY = -1;
  uint64_t lastFlushUs = 0;
  // The visible window's size and what it shows for it.
  ScreenFit fit;
  bool sizeChanged = false;  // a buffer-size event: followed at the next flush
  uint64_t lastSizeLookUs = 0;
};

Console gCon;

// --- presenter --------------------------------------------------------------------

// The glyph a cell shows. The program's texts are code-page-437 bytes; the
// code page's table in Windows turns 0x01..0x1F and 0x7F into control
// characters rather than the glyphs a DOS screen shows (a console on a
// terminal, as under Wine, would even pass them on as control bytes), so the
// cells go out as the Unicode of their CP437 glyphs.
WCHAR Glyph(uint8_t ch) {
  const char32_t cp = kCp437ToUnicode[ch];
  return cp < 0x20 ? L' ' : static_cast<WCHAR>(cp);
}

// Copies the changed cells of one row, as one span from the first to the
// last changed cell, in a single call.
void PresentRow(int y) {
  int first = -1, last = -1;
  for (int x = 0; x < ScreenModel::kCols; ++x)
    if (gScreen.dirty[y][x]) {
      if (first < 0) first = x;
      last = x;
    }
  if (first < 0) return;
  CHAR_INFO cells[ScreenModel::kCols];
  const int n = last - first + 1;
  for (int i = 0; i < n; ++i) {
    const ScreenCell& c = gScreen.cells[y][first + i];
    cells[i].Char.UnicodeChar = Glyph(c.ch);
    // The palette's order (1 blue, 2 green, 4 red, 8 bright) is the
    // console's attribute bits, background in the high nibble.
    cells[i].Attributes = c.attr;
    gScreen.dirty[y][first + i] = false;
  }
  COORD size{static_cast<SHORT>(n), 1};
  COORD origin{0, 0};
  SMALL_RECT where{static_cast<SHORT>(first), static_cast<SHORT>(y), static_cast<SHORT>(last),
                   static_cast<SHORT>(y)};
  WriteConsoleOutputW(gCon.out, cells, size, origin, &where);
}

// Rings the console's bell for the program's last BEL; "\a" written rings
// and moves nothing.
void Ring() {
  DWORD done = 0;
  WriteConsoleA(gCon.out, "\a", 1, &done, nullptr);
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
    // The message stays (and the cursor, whose moves would scroll the
    // window); the changed cells stay marked for the redraw that follows.
    if (bell) Ring();
    return;
  }
  if (gScreen.anyDirty) {
    for (int y = 0; y < ScreenModel::kRows; ++y) PresentRow(y);
    gScreen.anyDirty = false;
  }
  if (bell) Ring();
  gCon.lastCurX = gScreen.curX;
  gCon.lastCurY = gScreen.curY;
  COORD cur{static_cast<SHORT>(gScreen.curX - 1), static_cast<SHORT>(gScreen.curY - 1)};
  SetConsoleCursorPosition(gCon.out, cur);
}

// Makes the console 80 x 25 with its window showing the whole buffer, so the
// screen model's cells are the console's cells one to one. The window must
// never be larger than the buffer, hence the order.
void SizeConsole() {
  const COORD size{ScreenModel::kCols, ScreenModel::kRows};
  const SMALL_RECT full{0, 0, ScreenModel::kCols - 1, ScreenModel::kRows - 1};
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(gCon.out, &info)) return;
  if (info.dwSize.X == size.X && info.dwSize.Y == size.Y && info.srWindow.Left == 0 &&
      info.srWindow.Top == 0 && info.srWindow.Right == full.Right && info.srWindow.Bottom == full.Bottom)
    return;
  SMALL_RECT tiny{0, 0, 0, 0};
  SetConsoleWindowInfo(gCon.out, TRUE, &tiny);
  SetConsoleScreenBufferSize(gCon.out, size);
  SetConsoleWindowInfo(gCon.out, TRUE, &full);
}

// Blanks rows first..last of the buffer, all its width, in the console's
// plain grey on black.
void ClearRows(const CONSOLE_SCREEN_BUFFER_INFO& info, int first, int last) {
  if (last < first || info.dwSize.X <= 0) return;
  const DWORD count = static_cast<DWORD>(info.dwSize.X) * static_cast<DWORD>(last - first + 1);
  const COORD from{0, static_cast<SHORT>(first)};
  DWORD done = 0;
  FillConsoleOutputCharacterW(gCon.out, L' ', count, from, &done);
  FillConsoleOutputAttribute(gCon.out, 0x07, count, from, &done);
}

// Takes the visible window's size in and starts its picture afresh: the
// whole screen model at the buffer's top left (the window brought there)
// when the window fits it, else the message at the window's top left.
void FollowSize() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(gCon.out, &info)) return;
  const int cols = WindowCols(info), rows = WindowRows(info);
  gCon.fit = JudgeDisplaySize(cols, rows);
  gCon.lastCurX = gCon.lastCurY = -1;
  if (gCon.fit.fits) {
    // A window at least 80 x 25 means a buffer at least as large.
    if (info.srWindow.Left != 0 || info.srWindow.Top != 0) {
      const SMALL_RECT top{0, 0, static_cast<SHORT>(cols - 1), static_cast<SHORT>(rows - 1)};
      SetConsoleWindowInfo(gCon.out, TRUE, &top);
    }
    ClearRows(info, 0, rows - 1);
    gScreen.MarkAllDirty();
    Present(true);
    return;
  }
  ClearRows(info, info.srWindow.Top, info.srWindow.Bottom);
  const auto& lines = gCon.fit.lines;
  for (size_t y = 0; y < lines.size(); ++y) {
    DWORD done = 0;
    const COORD at{info.srWindow.Left, static_cast<SHORT>(info.srWindow.Top + static_cast<int>(y))};
    WriteConsoleOutputCharacterA(gCon.out, lines[y].data(), static_cast<DWORD>(lines[y].size()), at, &done);
  }
  const int lastRow = lines.empty() ? 0 : static_cast<int>(lines.size()) - 1;
  const int lastLen = lines.empty() ? 0 : static_cast<int>(lines.back().size());
  const COORD cur{static_cast<SHORT>(info.srWindow.Left + (lastLen < cols ? lastLen : cols - 1)),
                  static_cast<SHORT>(info.srWindow.Top + lastRow)};
  SetConsoleCursorPosition(gCon.out, cur);
  gCon.lastFlushUs = MonotonicUs();
}

// Takes the console over: the keys when standard input is a console, the
// display too when standard output is one as well. True when both are.
bool StartConsole() {
  gCon.in = GetStdHandle(STD_INPUT_HANDLE);
  gCon.out = GetStdHandle(STD_OUTPUT_HANDLE);
  Saved& s = gCon.saved;
  s.haveInputMode = GetConsoleMode(gCon.in, &s.inputMode) != 0;
  s.haveOutputMode = GetConsoleMode(gCon.out, &s.outputMode) != 0;
  if (s.haveInputMode) {
    s.inputCp = GetConsoleCP();
    SetConsoleCP(kCodePage);  // AsciiChar of a key event in CP437, like the texts
    // Keys one by one without echo; Ctrl-C still goes to the control
    // handler (processed input), as the terminal's interrupt does on POSIX.
    // Window input: the buffer-size events, to follow a resized console.
    SetConsoleMode(gCon.in, ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS);
    FlushConsoleInputBuffer(gCon.in);
    gCon.consoleKeys = true;
  }
  if (!s.haveInputMode || !s.haveOutputMode) return false;
  s.outputCp = GetConsoleOutputCP();
  s.haveInfo = GetConsoleScreenBufferInfo(gCon.out, &s.info) != 0;
  s.haveCursor = GetConsoleCursorInfo(gCon.out, &s.cursor) != 0;
  SetConsoleOutputCP(kCodePage);
  SizeConsole();
  CONSOLE_CURSOR_INFO cursor{25, TRUE};
  SetConsoleCursorInfo(gCon.out, &cursor);
  // The first frame paints all 80 x 25 cells in their own colours rather
  // than trusting what the console showed before, or, in a window smaller
  // than that, says so.
  gCon.lastBell = gScreen.bellCount;
  gCon.sizeChanged = true;
  return true;
}

void StopConsole() {
  const Saved& s = gCon.saved;
  if (gCon.mode == Mode::Console) {
    if (s.haveInfo) {
      // Back to the size and colours the console had; the program's last
      // screen stays, as a console program leaves it.
      SetConsoleTextAttribute(gCon.out, s.info.wAttributes);
      SMALL_RECT tiny{0, 0, 0, 0};
      SetConsoleWindowInfo(gCon.out, TRUE, &tiny);
      SetConsoleScreenBufferSize(gCon.out, s.info.dwSize);
      SetConsoleWindowInfo(gCon.out, TRUE, &s.info.srWindow);
    }
    if (s.haveCursor) SetConsoleCursorInfo(gCon.out, &s.cursor);
    SetConsoleMode(gCon.out, s.outputMode);
    if (s.outputCp) SetConsoleOutputCP(s.outputCp);
  }
  if (gCon.consoleKeys) {
    SetConsoleMode(gCon.in, s.inputMode);
    if (s.inputCp) SetConsoleCP(s.inputCp);
  }
}

// --- keyboard ---------------------------------------------------------------------

bool IsModifier(WORD vk) {
  switch (vk) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_LSHIFT: case VK_RSHIFT:
    case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU: case VK_CAPITAL:
    case VK_NUMLOCK: case VK_SCROLL: case VK_LWIN: case VK_RWIN: case VK_APPS:
      return true;
    default:
      return false;
  }
}

// The character of the keys that have one whatever the layout. A console on
// a terminal (Wine's) reports Esc with its scan code but no character.
uint8_t FixedChar(WORD vk) {
  switch (vk) {
    case VK_ESCAPE: return 27;
    case VK_RETURN: return 13;
    case VK_BACK: return 8;
    case VK_TAB: return 9;
    default: return 0;
  }
}

void QueueKeyEvent(const KEY_EVENT_RECORD& k) {
  uint8_t codes[2 * 16];
  const size_t n = KeyEventCodes(k, codes, gCon.keys.Room() < sizeof codes ? gCon.keys.Room() : sizeof codes);
  for (size_t i = 0; i < n; ++i) gCon.keys.Push(codes[i]);
}

// Takes every pending console event, keeping the keys and dropping the rest
// (mouse, focus, menu and size events). Never blocks: only as many events
// are read as are waiting.
void DrainConsole() {
  for (;;) {
    DWORD pending = 0;
    if (!GetNumberOfConsoleInputEvents(gCon.in, &pending) || pending == 0) return;
    if (gCon.keys.Room() < 2) return;  // the rest waits in the console
    INPUT_RECORD records[32];
    DWORD want = pending < 32 ? pending : 32;
    // Each key event may queue up to two bytes.
    if (want > gCon.keys.Room() / 2) want = static_cast<DWORD>(gCon.keys.Room() / 2);
    DWORD got = 0;
    if (!ReadConsoleInputA(gCon.in, records, want, &got) || got == 0) return;
    for (DWORD i = 0; i < got; ++i) {
      if (records[i].EventType == KEY_EVENT)
        QueueKeyEvent(records[i].Event.KeyEvent);
      else if (records[i].EventType == WINDOW_BUFFER_SIZE_EVENT)
        gCon.sizeChanged = true;  // followed at the next flush
    }
  }
}

void DrainHeadless() {
  uint8_t buf[256];
  DWORD room = static_cast<DWORD>(gCon.keys.Room());
  if (room == 0) return;
  DWORD want = room < sizeof buf ? room : sizeof buf;
  if (gCon.inputIsPipe) {
    DWORD avail = 0;
    if (!PeekNamedPipe(gCon.in, nullptr, 0, nullptr, &avail, nullptr)) {
      gCon.inputEnded = true;  // the writer closed its end
      return;
    }
    if (avail == 0) return;
    if (avail < want) want = avail;
  }
  DWORD got = 0;
  if (!ReadFile(gCon.in, buf, want, &got, nullptr) || got == 0) {
    gCon.inputEnded = true;
    return;
  }
  for (DWORD i = 0; i < got; ++i) gCon.keys.Push(buf[i]);
}

// Looks at the input for up to timeoutMs (0: just a look) and queues what
// came. A control event ends the wait at once.
void PollInput(DWORD timeoutMs) {
  if (gCon.consoleKeys) {
    DrainConsole();
    if (!gCon.keys.Empty() || timeoutMs == 0) return;
    HANDLE waits[2] = {gCon.in, static_cast<HANDLE>(ControlEvent())};
    WaitForMultipleObjects(waits[1] ? 2 : 1, waits, FALSE, timeoutMs);
    DrainConsole();
    return;
  }
  DrainHeadless();
  if (gCon.keys.Empty() && !gCon.inputEnded && timeoutMs > 0) {
    SleepMs(gCon.inputIsPipe ? 10 : 0);  // a pipe cannot be waited on
  }
}

// True when the input has ended and every key of it has been read. The
// program then ends, unless it is already on its way out.
bool InputOver() {
  if (!gCon.keys.Empty() || !gCon.inputEnded) return false;
  if (!Exiting()) ExitCleanly(kEndOfInputExit);
  return true;
}

}  // namespace

// The window as the console reports it, but never larger than the largest
// window the console says it can show (dwMaximumWindowSize): a console on a
// terminal (Wine's) lets the program make its window 80 x 25 on a smaller
// terminal and keeps the terminal's own size only there. On Windows' own
// console the window is never larger than that anyway.
int WindowCols(const CONSOLE_SCREEN_BUFFER_INFO& info) {
  const int cols = info.srWindow.Right - info.srWindow.Left + 1;
  return info.dwMaximumWindowSize.X > 0 && info.dwMaximumWindowSize.X < cols ? info.dwMaximumWindowSize.X : cols;
}
int WindowRows(const CONSOLE_SCREEN_BUFFER_INFO& info) {
  const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return info.dwMaximumWindowSize.Y > 0 && info.dwMaximumWindowSize.Y < rows ? info.dwMaximumWindowSize.Y : rows;
}

size_t KeyEventCodes(const KEY_EVENT_RECORD& k, uint8_t* out, size_t room) {
  if (!k.bKeyDown || IsModifier(k.wVirtualKeyCode)) return 0;
  uint8_t ascii = static_cast<uint8_t>(k.uChar.AsciiChar);
  if (ascii == 0) ascii = FixedChar(k.wVirtualKeyCode);
  const bool shift = (k.dwControlKeyState & SHIFT_PRESSED) != 0;
  uint8_t code[2] = {0, 0};
  size_t len = 2;
  if (k.wVirtualKeyCode == VK_TAB && shift) {
    code[1] = 15;  // Shift-Tab, as DOS reports it
  } else if (ascii != 0) {
    code[0] = ascii;
    len = 1;
  } else if (k.wVirtualKeyCode == VK_F11) {
    code[1] = 133;  // the BIOS's own codes for F11 and F12
  } else if (k.wVirtualKeyCode == VK_F12) {
    code[1] = 134;
  } else if (k.wVirtualScanCode != 0 && k.wVirtualScanCode < 256) {
    code[1] = static_cast<uint8_t>(k.wVirtualScanCode);
  } else {
    return 0;  // neither character nor scan code (a dead key)
  }
  // A held key comes as one event with a repeat count; an extended key is
  // only passed on whole.
  const WORD repeat = k.wRepeatCount == 0 ? 1 : k.wRepeatCount;
  size_t n = 0;
  for (WORD i = 0; i < repeat && n + len <= room; ++i)
    for (size_t j = 0; j < len; ++j) out[n++] = code[j];
  return n;
}

bool EscQueued() {
  YieldPoint();
  if (gCon.keys.HasEsc()) return true;
  if (gCon.mode != Mode::Console && gCon.mode != Mode::Headless) return false;
  if (!gCon.consoleKeys) {
    // Redirected input: its bytes are the keys, taken into the queue as
    // KeyPressed takes them; the caller's own poll still finds them there.
    DrainHeadless();
    return gCon.keys.HasEsc();
  }
  // Looks at the console's pending events without taking any: the keys
  // stay in the console, in their order, for the program's own poll.
  INPUT_RECORD records[64];
  DWORD got = 0;
  if (!PeekConsoleInputA(gCon.in, records, 64, &got)) return false;
  for (DWORD i = 0; i < got; ++i) {
    if (records[i].EventType != KEY_EVENT) continue;
    const KEY_EVENT_RECORD& k = records[i].Event.KeyEvent;
    if (k.bKeyDown && (k.wVirtualKeyCode == VK_ESCAPE || k.uChar.AsciiChar == 27)) return true;
  }
  return false;
}

void ConsoleStart() {
  if (gCon.mode != Mode::NotStarted) return;
  if (StartConsole()) {
    gCon.mode = Mode::Console;
    return;
  }
  gCon.mode = Mode::Headless;
  if (gCon.consoleKeys) return;
  gCon.inputIsPipe = GetFileType(gCon.in) == FILE_TYPE_PIPE;
  if (gCon.in == nullptr || gCon.in == INVALID_HANDLE_VALUE) gCon.inputEnded = true;
}

void ConsoleStop() {
  if (gCon.mode == Mode::Console) Present(true);  // the last screen in full
  if (gCon.mode == Mode::Console || gCon.mode == Mode::Headless) StopConsole();
  if (gCon.mode != Mode::NotStarted) gCon.mode = Mode::Stopped;
}

void ConsoleFlush(bool force) {
  if (gCon.mode != Mode::Console) return;
  const uint64_t now = MonotonicUs();
  if (!gCon.sizeChanged && now - gCon.lastSizeLookUs >= kSizeLookUs) {
    gCon.lastSizeLookUs = now;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(gCon.out, &info) &&
        (WindowCols(info) != gCon.fit.cols || WindowRows(info) != gCon.fit.rows))
      gCon.sizeChanged = true;
  }
  // A window being dragged sends a stream of sizes: followed no more often
  // than the screen is flushed anyway.
  if (gCon.sizeChanged && (force || now - gCon.lastFlushUs >= kFlushIntervalUs)) {
    gCon.sizeChanged = false;
    FollowSize();
  }
  Present(force);
}

}  // namespace win32

using win32::gCon;
using win32::Mode;

// Before PlatformInit (tests, benchmarks, tools) and after PlatformShutdown
// there is no keyboard: nothing is pending and a key wait ends at once with
// Esc, which ends every wait.
bool KeyPressed() {
  win32::YieldPoint();
  if (!gCon.keys.Empty()) return true;
  if (gCon.mode == Mode::NotStarted || gCon.mode == Mode::Stopped) return false;
  win32::PollInput(0);
  win32::InputOver();
  return !gCon.keys.Empty();
}

void* win32::KeyWaitHandle() {
  if (gCon.mode == Mode::NotStarted || gCon.mode == Mode::Stopped || !gCon.consoleKeys) return nullptr;
  return gCon.in;
}

uint8_t ReadKey() {
  for (;;) {
    // Everything written so far must be on the screen before we block.
    win32::YieldPoint(true);
    if (!gCon.keys.Empty()) return gCon.keys.Pop();
    if (gCon.mode == Mode::NotStarted || gCon.mode == Mode::Stopped) return 27;
    win32::PollInput(win32::kKeyWaitSliceMs);
    if (win32::InputOver()) return 27;
  }
}

void Delay(uint32_t ms) {
  // A delay long enough for the eye is a good moment to show everything.
  win32::YieldPoint(static_cast<uint64_t>(ms) * 1000 >= win32::kFlushIntervalUs);
  if (ms == 0) {
    Sleep(0);
    return;
  }
  const uint64_t deadline = win32::MonotonicUs() + static_cast<uint64_t>(ms) * 1000;
  for (;;) {
    const uint64_t now = win32::MonotonicUs();
    if (now >= deadline) break;
    // Whole milliseconds, rounded up, so a delay never ends early.
    uint64_t left = (deadline - now + 999) / 1000;
    if (left > 50) left = 50;  // wake now and then to show the screen
    win32::SleepMs(static_cast<uint32_t>(left));
    win32::YieldPoint();
  }
}

void FlushOutput() { win32::YieldPoint(true); }
