// Start and end of the platform layer.
#pragma once

#include <string>

// Takes over the terminal (or console) and installs the exit handling.
// Without one (standard input or output redirected) it reads keys from
// standard input instead and draws nothing: tools and tests use that.
void PlatformInit();
// The interactive program's start: PlatformInit, but only where there is a
// terminal the console can drive: standard input and output both a terminal
// (on Windows both a console) and, on POSIX, a terminal type that can move
// the cursor. Otherwise false, with why in one line (no program name, no
// full stop), and nothing touched: no mode changed, nothing drawn.
bool PlatformInitTerminal(std::string& why);
// Gives the terminal back. Safe to call more than once.
void PlatformShutdown();
// Cleanup run on every way out (normal end, SIGINT, SIGTERM, SIGHUP) before
// the terminal is restored; the program registers what must be closed.
using PlatformExitHook = void (*)();
void PlatformAddExitHook(PlatformExitHook hook);
