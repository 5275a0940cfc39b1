// Start and end of the program on Windows: the console control handler, the
// exit hooks and the yield point that turns a control event into a clean exit.
//
// Windows calls the control handler on a thread of its own. Running the exit
// hooks there (they close the serial port and the result file) would race the
// program's thread, so the handler only notes the event and wakes any wait;
// the program's thread acts on it at its next yield (key poll, key wait,
// delay, serial call), as the POSIX signal handling does. For a close, logoff
// or shutdown Windows ends the process when the handler returns, so the
// handler waits there until the program's thread has cleaned up and exited.
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <vector>

#include "platform/Platform.h"
#include "platform/win32/Win32Internal.h"

namespace win32 {
namespace {

// The exit codes of the POSIX build for the same events: 128 + SIGINT for an
// interrupt, 128 + SIGHUP for the terminal going away.
constexpr int kInterruptExit = 130;
constexpr int kCloseExit = 129;
// Windows gives a closing console's handler about 5 s before it ends the
// process anyway; the program's thread needs far less.
constexpr DWORD kCloseGraceMs = 4500;

std::atomic<int> gPendingExit{0};
HANDLE gControlEvent = nullptr;  // set by the handler: wakes waits at once
HANDLE gDoneEvent = nullptr;     // set when the cleanup has run
bool gExiting = false;
bool gInitialised = false;
bool gShutDown = false;
bool gTimerPeriodSet = false;
std::vector<PlatformExitHook> gHooks;

BOOL WINAPI OnControl(DWORD type) {
  int code = kInterruptExit;
  bool closing = false;
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      code = kCloseExit;
      closing = true;
      break;
    default:
      return FALSE;
  }
  int none = 0;
  gPendingExit.compare_exchange_strong(none, code);
  if (gControlEvent) SetEvent(gControlEvent);
  if (closing && gDoneEvent) WaitForSingleObject(gDoneEvent, kCloseGraceMs);
  return TRUE;  // handled: no default ExitProcess behind the program's back
}

void RunExitHooks() {
  // Taken out first so a hook that ends up here again does not run twice.
  std::vector<PlatformExitHook> hooks;
  hooks.swap(gHooks);
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) (*it)();
}

void OnTerminate() {
  // An escaped exception must not leave the console in our modes and colours.
  ConsoleStop();
  std::abort();
}

// The waits count single milliseconds (the 1 ms pause after a write, the
// 1 ms idle polls of a line read); the default timer tick is 15.6 ms. Asked
// for once, by the first wait or by PlatformInit; Windows drops it again when
// the process ends.
void FineTimer() {
  static bool asked = false;
  if (asked) return;
  asked = true;
  gTimerPeriodSet = timeBeginPeriod(1) == TIMERR_NOERROR;
}

void ReleaseTimerPeriod() {
  if (gTimerPeriodSet) timeEndPeriod(1);
  gTimerPeriodSet = false;
}

}  // namespace

uint64_t MonotonicUs() {
  static const uint64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<uint64_t>(f.QuadPart);
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  const uint64_t ticks = static_cast<uint64_t>(c.QuadPart);
  return ticks / frequency * 1000000u + ticks % frequency * 1000000u / frequency;
}

void ExitCleanly(int code) {
  gExiting = true;
  RunExitHooks();
  ConsoleStop();
  ReleaseTimerPeriod();
  gShutDown = true;
  if (gDoneEvent) SetEvent(gDoneEvent);
  std::exit(code);
}

bool Exiting() { return gExiting; }

void YieldPoint(bool force) {
  const int pending = gPendingExit.load();
  if (pending != 0 && !gExiting) ExitCleanly(pending);
  ConsoleFlush(force);
}

void SleepMs(uint32_t ms) {
  FineTimer();
  if (gControlEvent)
    WaitForSingleObject(gControlEvent, ms);
  else
    Sleep(ms);
}

void* ControlEvent() { return gControlEvent; }

}  // namespace win32

void PlatformInit() {
  if (win32::gInitialised) return;
  win32::gInitialised = true;
  // Manual reset: once set it stays set, so every later wait ends at once
  // until the program has reached its yield and exited.
  win32::gControlEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  win32::gDoneEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  win32::FineTimer();
  SetConsoleCtrlHandler(win32::OnControl, TRUE);
  std::set_terminate(win32::OnTerminate);
  std::atexit(PlatformShutdown);
  win32::ConsoleStart();
}

void PlatformShutdown() {
  if (win32::gShutDown) return;
  win32::gShutDown = true;
  win32::gExiting = true;
  win32::RunExitHooks();
  win32::ConsoleStop();
  win32::ReleaseTimerPeriod();
  if (win32::gDoneEvent) SetEvent(win32::gDoneEvent);
}

void PlatformAddExitHook(PlatformExitHook hook) {
  if (hook) win32::gHooks.push_back(hook);
}
