// What the POSIX backend's units share among themselves: the monotonic clock,
// the yield point every wait passes through, and the terminal's start and end.
// Nothing outside platform/posix includes this.
#pragma once
#include <cstdint>

namespace posix {

// Microseconds of a clock that never jumps (not the time of day).
uint64_t MonotonicUs();

// The yield point: ends the program cleanly if a termination signal came
// (exit hooks, terminal restored, exit 128 + signal), then lets the presenter
// copy changed cells to the terminal. A presenter flush is rate-limited unless
// force is set, because the waiting loops call this about 1000 times a second.
void Yield(bool force = false);

// Runs the exit hooks (once, newest first), restores the terminal and exits
// with code. Used for signals and for the end of headless input.
[[noreturn]] void ExitCleanly(int code);
// The program is on its way out (exit hooks running, terminal going back).
bool Exiting();

// A SIGWINCH came since the last call (the flag is cleared).
bool TakeResize();

// Terminal presenter and keyboard (Console.cpp).
void ConsoleStart();
void ConsoleStop();  // idempotent
// ConsoleStart took the terminal over (false: no terminal, keys from stdin).
bool ConsoleHasTerminal();
void ConsoleFlush(bool force);
// Esc has been typed and waits in the key queue. Takes in what the keyboard
// has (as KeyPressed does) and consumes nothing: a wait inside the platform
// (connecting a network line) ends on it, and the caller's own key poll
// still sees it, with the type-ahead around it.
bool EscQueued();
// The descriptor keys arrive on, for a wait that sleeps until one comes;
// -1 while there is no keyboard (before PlatformInit, after its input ended).
int KeyWaitFd();

}  // namespace posix
