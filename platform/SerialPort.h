// The serial layer inside, the same on every real system: one table of open
// ports (SerialTable.cpp) whose entries each carry the transport that moves
// their bytes: a terminal device (posix/SerialTty.cpp), a Windows comm port
// (win32/Serial.cpp), a raw TCP or an RFC 2217 connection (NetLine.cpp).
// The table owns the time-outs (the deadline loops, waiting out a dead line);
// a transport does non-blocking steps on its system object, or, where the
// system's driver times reads and writes itself, the whole call.
//
// Adding a transport: one file with its steps and its SerialTransport, and
// its opener in the table's kOpeners (SerialTable.cpp).
// Nothing outside platform/ includes this.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Crt.h"
#include "platform/LineReopen.h"
#include "platform/RemoteLine.h"
#include "platform/Serial.h"

struct SerialTransport;

// What a wait on a system object saw (bits).
enum SerialReady : int {
  kSerialReadable = 1,
  kSerialWritable = 2,
  kSerialFailed = 4,  // hung up, reset, or in error
};
// While a read, a write or a connection waits, the program still yields and
// looks at the keyboard this often.
constexpr uint64_t kSerialSliceUs = 20000;

// The system object a wait cannot sleep on (a comm handle without overlapped
// I/O, a socket event that could not be made).
constexpr intptr_t kSerialNoWaitObject = -1;

struct SerialPort {
  const SerialTransport* ops = nullptr;
  intptr_t sys = -1;  // the system's object: a descriptor, a socket, a comm handle
  // What the transport keeps beside it (a comm port's driver settings). On a
  // reopening the opener finds the old port's here and may start from it.
  std::shared_ptr<void> state;
  int number = 0;
  // What the port was opened from: the device path or the network address.
  std::string setting;
  SerialTimeouts timeouts{};
  bool timeoutsSet = false;
  // Network lines: the settings last set (raw TCP) or confirmed (RFC 2217).
  SerialSettings settings{9600, 'N', 8, 1, false};
  // The transport found its line gone (the first cause stays; 0 while it lives).
  int lostError = 0;
  std::unique_ptr<Rfc2217Link> link;  // RFC 2217 only
  // The line settings last set: a line that went away is opened again with
  // them. While it is down every call fails with kSerialErrLineLost.
  bool settingsSet = false;
  SerialSettings lastSet{};
  bool down = false;
  LineReopenPace reopen;
};

// What flushOut reports.
constexpr int kSerialFlushDone = 0;
constexpr int kSerialFlushPending = 1;  // more to send, no room now
constexpr int kSerialFlushFailed = -1;  // the line failed

// A driver that keeps the time-outs and times its reads and writes itself
// (a Windows comm port): where the time-outs go, and the whole calls (false:
// the line failed).
struct SerialDriverCalls {
  bool (*getTimeouts)(SerialPort&, SerialTimeouts&);
  bool (*setTimeouts)(SerialPort&, const SerialTimeouts&);
  bool (*read)(SerialPort&, uint8_t*, uint32_t, uint32_t&);
  bool (*write)(SerialPort&, const uint8_t*, uint32_t, uint32_t&);
};

// The steps a transport offers. Failures of the bool steps go through
// SerialFail; a transport that finds its line gone also sets lostError, and
// the table then takes the line for lost.
struct SerialTransport {
  bool (*getSettings)(SerialPort&, SerialSettings&);
  bool (*setSettings)(SerialPort&, const SerialSettings&);
  bool (*purge)(SerialPort&);
  bool (*waiting)(SerialPort&, uint32_t&);
  // The byte steps the table's deadline loops drive. readSome: > 0 bytes
  // read, 0 none now (the wait follows), -1 the line failed. writeSome:
  // > 0 bytes taken, 0 no room now (the wait for room follows), -1 the line
  // failed.
  long (*readSome)(SerialPort&, uint8_t*, size_t);
  long (*writeSome)(SerialPort&, const uint8_t*, size_t);
  // Bytes the transport holds for the line beyond what writeSome reported
  // (Telnet encoding), as kSerialFlush*. Null when it holds none.
  int (*flushOut)(SerialPort&);
  // What the program's idle wait sleeps on for this line's bytes, or
  // kSerialNoWaitObject (the wait then looks again every millisecond).
  intptr_t (*waitObject)(SerialPort&);
  void (*close)(SerialPort&);
  // Null for a transport the table times.
  const SerialDriverCalls* driver = nullptr;
};

// Records code as the last error and returns false.
bool SerialFail(int code);

// One look of the program's idle wait (PlatformWait), keys first: true with
// why when a key waits, line has bytes to read (an RFC 2217 line decodes
// what has come: Telnet control alone is no line data) or deadlineUs has
// passed. Otherwise false, with the port to sleep on: line's when it is open,
// up and not known gone, else nullptr.
bool SerialWakeDue(SerialHandle line, uint64_t deadlineUs, WakeReason& why, SerialPort*& watch);

// Opening by kind: 0 and port filled (sys, ops, state), or the error code.
// port.number and port.setting are filled in already.
int NetOpen(const RemoteAddress& address, SerialPort& port);

// --- what each system gives the table (posix/Serial.cpp, win32/Serial.cpp) ---

// Microseconds of a clock that never jumps.
uint64_t SerialNowUs();
// The program's yield point: signals and console events seen to, the screen
// kept up to date (rate-limited).
void SerialYield();
// Sleeps about us microseconds (whole milliseconds at least where the system
// counts no finer).
void SerialSleepUs(uint64_t us);
// Esc waits in the key queue (nothing consumed).
bool SerialEscQueued();
// Waits until sys is ready for what want asks (kSerialReadable,
// kSerialWritable), it failed, or deadlineUs, but never longer than one
// slice of kSerialSliceUs. The SerialReady bits seen; 0 when the time passed
// quietly. Never returns before the time has passed unless something came.
int SerialWaitReady(intptr_t sys, int want, uint64_t deadlineUs);
// The port's device without VEKTON_COM<n> naming a network line: setting is
// what the variable holds ("" without one).
std::string SerialDevicePath(int port, const std::string& setting);
// Opens the device at port.setting, exclusively.
int SerialDeviceOpen(const RemoteAddress& address, SerialPort& port);

// The system's codes for the failures the shared parts report.
struct SerialSystemCodes {
  int badHandle;        // a handle that is not open
  int busy;             // a network port already open
  int timedOut;         // a write not taken in time, a connection not made in time
  int invalid;          // settings no line runs
  int noBuffers;        // a server that never takes what we owe it
  int noThread;         // no thread for a name lookup
  int hostUnreachable;  // no address to try
  int generic;          // a failure that left no code
};
extern const SerialSystemCodes kSerialCodes;
