// What the Win32 backend's units share among themselves: the monotonic clock,
// the yield point every wait passes through, the console's start and end, and
// the device name of a port. Nothing outside platform/win32 includes this,
// except the backend's own tests.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace win32 {

// Microseconds of a clock that never jumps (not the time of day).
uint64_t MonotonicUs();

// The yield point: ends the program cleanly if Ctrl-C, Ctrl-Break or the
// closing of the console came (exit hooks, console restored, exit code as on
// POSIX: 130 for an interrupt, 129 for a close), then lets the presenter copy
// changed cells to the console. A flush is rate-limited unless force is set.
void YieldPoint(bool force = false);

// Runs the exit hooks (once, newest first), restores the console and exits
// with code.
[[noreturn]] void ExitCleanly(int code);
// The program is on its way out (exit hooks running, console going back).
bool Exiting();
// Sleeps up to ms milliseconds; wakes at once when a console control event
// (Ctrl-C, close) arrives, so the yield that follows can act on it.
void SleepMs(uint32_t ms);
// The event that a console control event sets (for waits on the keyboard).
void* ControlEvent();

// Console presenter and keyboard (Console.cpp).
// The DOS key codes of one console key event, written to out (at most room
// bytes): the character for a key that has one (in the console's input code
// page, 437), 0 and the scan code for the others; nothing for a key release
// or a lone modifier. Returns the count.
size_t KeyEventCodes(const KEY_EVENT_RECORD& k, uint8_t* out, size_t room);
// The size of the console's visible window (not of its buffer), within the
// largest window the console can show: what the presenter judges against
// 80 x 25.
int WindowCols(const CONSOLE_SCREEN_BUFFER_INFO& info);
int WindowRows(const CONSOLE_SCREEN_BUFFER_INFO& info);
void ConsoleStart();
void ConsoleStop();  // idempotent
void ConsoleFlush(bool force);
// Esc has been typed and waits for the program: in the key queue or among
// the console's pending events. Consumes nothing: a wait inside the platform
// (connecting a network line) ends on it, and the caller's own key poll
// still sees it, with the type-ahead around it.
bool EscQueued();
// The console input handle, signalled when input events wait, for a wait
// that sleeps until a key comes; null while there is no console to wait on
// (no keyboard, or input from a pipe or file).
void* KeyWaitHandle();

// The name CreateFileA opens for port n: "COMn" up to 9, the device
// namespace "\\.\COMn" from 10 on (the short form only covers COM1..COM9).
std::string SerialDeviceName(int port);

}  // namespace win32
