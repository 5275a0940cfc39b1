// Start and end of the platform layer.
#pragma once

// Takes over the terminal (or console) and installs the exit handling.
void PlatformInit();
// Gives the terminal back. Safe to call more than once.
void PlatformShutdown();
// Cleanup run on every way out (normal end, SIGINT, SIGTERM, SIGHUP) before
// the terminal is restored; the program registers what must be closed.
using PlatformExitHook = void (*)();
void PlatformAddExitHook(PlatformExitHook hook);
