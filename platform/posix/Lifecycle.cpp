// Start and end of the program on POSIX: signal handling, exit hooks and the
// yield point that turns a pending signal into a clean exit.
//
// The handlers only note the signal; the program notices it at its next yield
// (key poll, key wait, delay, serial wait). Exiting from inside a handler would
// run the exit hooks (which close the serial port and the result file) and
// endwin() at an arbitrary point, which is not safe. The handlers are installed
// without SA_RESTART so a blocking wait is interrupted and reaches the check.
// SIGWINCH, the terminal's new size, is only noted too (with SA_RESTART: it
// ends nothing); the presenter follows it at its next flush.
#include <signal.h>
#include <time.h>

#include <cstdlib>
#include <exception>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/PosixInternal.h"

namespace posix {
namespace {

volatile sig_atomic_t gSignal = 0;
volatile sig_atomic_t gResized = 0;
bool gExiting = false;
bool gInitialised = false;
bool gShutDown = false;
std::vector<PlatformExitHook> gHooks;

void OnSignal(int sig) {
  if (gSignal == 0) gSignal = sig;
}

// The terminal's size changed: only noted, for the presenter's next flush.
void OnResize(int) { gResized = 1; }

void RunExitHooks() {
  // Taken out first so a hook that ends up here again does not run twice.
  std::vector<PlatformExitHook> hooks;
  hooks.swap(gHooks);
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) (*it)();
}

void OnTerminate() {
  // An escaped exception must not leave the terminal in raw mode.
  ConsoleStop();
  std::abort();
}

}  // namespace

uint64_t MonotonicUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

void ExitCleanly(int code) {
  gExiting = true;
  RunExitHooks();
  ConsoleStop();
  gShutDown = true;
  std::exit(code);
}

bool Exiting() { return gExiting; }

bool TakeResize() {
  if (gResized == 0) return false;
  gResized = 0;
  return true;
}

void Yield(bool force) {
  if (gSignal != 0 && !gExiting) ExitCleanly(128 + gSignal);
  ConsoleFlush(force);
}

}  // namespace posix

void PlatformInit() {
  if (posix::gInitialised) return;
  posix::gInitialised = true;
  struct sigaction sa {};
  sa.sa_handler = posix::OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: blocking waits must wake up
  // Installed before the terminal library starts, which then leaves these
  // signals to us instead of installing its own handlers.
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  // A resize is no reason to cut a read short (SA_RESTART); poll and
  // nanosleep still wake on it, and every wait goes on to its deadline.
  struct sigaction resize {};
  resize.sa_handler = posix::OnResize;
  sigemptyset(&resize.sa_mask);
  resize.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &resize, nullptr);
  // A file that reaches the process's size limit (ulimit -f) is to fail its
  // write with EFBIG, as a full disk fails it with ENOSPC, not to end the
  // run by a signal: the trace's recorder then stops on its own.
  signal(SIGXFSZ, SIG_IGN);
  std::set_terminate(posix::OnTerminate);
  std::atexit(PlatformShutdown);
  posix::ConsoleStart();
}

void PlatformShutdown() {
  if (posix::gShutDown) return;
  posix::gShutDown = true;
  posix::gExiting = true;
  posix::RunExitHooks();
  posix::ConsoleStop();
}

void PlatformAddExitHook(PlatformExitHook hook) {
  if (hook) posix::gHooks.push_back(hook);
}
