// Serial ports on Windows. Port n is COMn: the kernel32 comm calls,
// synchronous, one handle per open port; the driver keeps the line settings
// and the read time-outs, and a ReadFile returns when its bytes have come or
// the total time-out passed. When VEKTON_COM<n> names tcp://HOST:PORT or
// rfc2217://HOST:PORT, port n is instead a connection (serial_net.cpp).
// The program's handle is a number of this table, which knows the port's
// kind and its system handle; every call on a comm port goes to the driver
// as it always did. A line that went away is opened again under the same
// number (SerialLineUp), so the program keeps its handle.
#include <windows.h>

#include <cstdlib>
#include <map>

#include "platform/crt.h"
#include "platform/line_reopen.h"
#include "platform/remote_line.h"
#include "platform/serial.h"
#include "platform/win32/serial_net.h"
#include "platform/win32/win32_internal.h"

namespace {

struct Port {
  HANDLE os = INVALID_HANDLE_VALUE;  // a comm port's system handle
  // A comm handle: the settings as the driver last reported them, so that
  // applying settings changes only what the program asks for and keeps
  // every other field of the driver.
  DCB dcb{};
  // A network line (then os and dcb are unused); owned here, freed by NetClose.
  win32::NetLine* net = nullptr;
  int number = 0;
  // What a reopened line gets again: the settings and time-outs last set.
  bool settingsSet = false;
  SerialSettings lastSet{};
  bool timeoutsSet = false;
  SerialTimeouts lastTimeouts{};
  // The line went away: every call fails with kSerialErrLineLost until
  // SerialLineUp has opened the port again.
  bool down = false;
  LineReopenPace reopen;
};

std::map<SerialHandle, Port> gPorts;
SerialHandle gNextHandle = 1;
int gLastError = 0;

Port* Find(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it != gPorts.end()) return &it->second;
  gLastError = ERROR_INVALID_HANDLE;
  return nullptr;
}

// An open port whose line is up; a port whose line is down fails the call.
Port* FindUp(SerialHandle h) {
  Port* p = Find(h);
  if (p && p->down) {
    gLastError = kSerialErrLineLost;
    return nullptr;
  }
  return p;
}

bool LineLost(Port& p) {
  p.down = true;
  gLastError = kSerialErrLineLost;
  return false;
}

// What VEKTON_COM<n> says about port n: a network line, or the device.
int PortAddress(int port, RemoteAddress& address) {
  const std::string var = "VEKTON_COM" + std::to_string(port);
  const char* v = std::getenv(var.c_str());
  return ParseRemoteAddress(v ? v : "", address);
}

bool Fail() {
  gLastError = static_cast<int>(GetLastError());
  return false;
}

char ParityLetter(BYTE parity) {
  switch (parity) {
    case EVENPARITY: return 'E';
    case ODDPARITY: return 'O';
    default: return 'N';
  }
}

bool AnyFlagSet(const DCB& d) {
  return d.fParity || d.fOutxCtsFlow || d.fOutxDsrFlow || d.fDtrControl != DTR_CONTROL_DISABLE ||
         d.fDsrSensitivity || d.fTXContinueOnXoff || d.fOutX || d.fInX || d.fErrorChar || d.fNull ||
         d.fRtsControl != RTS_CONTROL_DISABLE || d.fAbortOnError;
}

// The whole flag word cleared: no parity check on input, no CTS/DSR or
// XON/XOFF flow control, DTR and RTS off, no error character, no null
// stripping, no abort on error. Only binary mode stays on, the one mode
// Windows drivers support.
void ClearFlags(DCB& d) {
  d.fBinary = TRUE;
  d.fParity = FALSE;
  d.fOutxCtsFlow = FALSE;
  d.fOutxDsrFlow = FALSE;
  d.fDtrControl = DTR_CONTROL_DISABLE;
  d.fDsrSensitivity = FALSE;
  d.fTXContinueOnXoff = FALSE;
  d.fOutX = FALSE;
  d.fInX = FALSE;
  d.fErrorChar = FALSE;
  d.fNull = FALSE;
  d.fRtsControl = RTS_CONTROL_DISABLE;
  d.fAbortOnError = FALSE;
}

}  // namespace

namespace win32 {

bool SerialFail(int code) {
  gLastError = code;
  return false;
}

std::string SerialDeviceName(int port) {
  const std::string n = std::to_string(port);
  return port <= 9 ? "COM" + n : "\\\\.\\COM" + n;
}

}  // namespace win32

namespace {

// Opens COMn, exclusive: 0 with its system handle, or the failure's code.
int OpenDevice(int port, HANDLE& os) {
  const std::string name = win32::SerialDeviceName(port);
  os = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr, OPEN_EXISTING,
                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (os != INVALID_HANDLE_VALUE) return 0;
  const int err = static_cast<int>(GetLastError());
  return err != 0 ? err : SerialNoDeviceError();
}

// Closes what carries p's line: its connection or its comm handle.
void CloseLine(Port& p) {
  if (p.net)
    win32::NetClose(p.net);
  else
    CloseHandle(p.os);
}

}  // namespace

int SerialOpen(int port, SerialHandle& handle) {
  handle = kInvalidSerialHandle;
  if (port < 1 || port > 128) return gLastError = SerialNoDeviceError();
  RemoteAddress address;
  if (const int err = PortAddress(port, address); err != 0) return gLastError = err;
  if (address.kind != RemoteKind::kDevice) {
    // Exclusive like a device: the port's one connection is its own.
    for (const auto& entry : gPorts)
      if (entry.second.net && entry.second.number == port) return gLastError = ERROR_ACCESS_DENIED;
    win32::NetLine* line = nullptr;
    if (const int err = win32::NetOpen(address, line); err != 0) return gLastError = err;
    handle = gNextHandle++;
    Port& p = gPorts[handle];
    p.net = line;
    p.number = port;
    return 0;
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  if (const int err = OpenDevice(port, h); err != 0) return gLastError = err;
  handle = gNextHandle++;
  Port& p = gPorts[handle];
  p.os = h;
  p.dcb = DCB{};
  p.dcb.DCBlength = sizeof p.dcb;
  p.number = port;
  return 0;
}

namespace {

// What SerialSetSettings and SerialSetTimeouts apply, and a reopened line
// gets again (they remember it once it is in force).
bool SetSettings(Port& p, const SerialSettings& s) {
  if (p.net) return win32::NetSetSettings(*p.net, s);
  DCB d = p.dcb;
  if (d.BaudRate == 0) {
    // Never read: start from what the driver has now.
    d.DCBlength = sizeof d;
    if (!GetCommState(p.os, &d)) return Fail();
  }
  d.BaudRate = s.baud;
  d.ByteSize = s.dataBits;
  d.Parity = s.parity == 'E' ? EVENPARITY : s.parity == 'O' ? ODDPARITY : NOPARITY;
  d.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  if (s.flagsSet)
    d.fBinary = TRUE;
  else
    ClearFlags(d);
  if (!SetCommState(p.os, &d)) return Fail();
  p.dcb = d;
  return true;
}

bool SetTimeouts(Port& p, const SerialTimeouts& t) {
  if (p.net) return win32::NetSetTimeouts(*p.net, t);
  COMMTIMEOUTS c{};
  c.ReadIntervalTimeout = t.readInterval;
  c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
  c.ReadTotalTimeoutConstant = t.readTotalConstant;
  c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
  c.WriteTotalTimeoutConstant = t.writeTotalConstant;
  if (!SetCommTimeouts(p.os, &c)) return Fail();
  return true;
}

}  // namespace

bool SerialGetSettings(SerialHandle h, SerialSettings& s) {
  Port* p = FindUp(h);
  if (!p) return false;
  if (p->net) return win32::NetGetSettings(*p->net, s);
  DCB d{};
  d.DCBlength = sizeof d;
  if (!GetCommState(p->os, &d)) return Fail();
  p->dcb = d;
  s.baud = d.BaudRate;
  s.parity = ParityLetter(d.Parity);
  s.dataBits = d.ByteSize;
  s.stopBits = d.StopBits == TWOSTOPBITS ? 2 : 1;
  s.flagsSet = AnyFlagSet(d);
  return true;
}

bool SerialSetSettings(SerialHandle h, const SerialSettings& s) {
  Port* p = FindUp(h);
  if (!p || !SetSettings(*p, s)) return false;
  p->settingsSet = true;
  p->lastSet = s;
  return true;
}

bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& t) {
  Port* p = FindUp(h);
  if (!p) return false;
  if (p->net) return win32::NetGetTimeouts(*p->net, t);
  COMMTIMEOUTS c{};
  if (!GetCommTimeouts(p->os, &c)) return Fail();
  t.readInterval = c.ReadIntervalTimeout;
  t.readTotalMultiplier = c.ReadTotalTimeoutMultiplier;
  t.readTotalConstant = c.ReadTotalTimeoutConstant;
  t.writeTotalMultiplier = c.WriteTotalTimeoutMultiplier;
  t.writeTotalConstant = c.WriteTotalTimeoutConstant;
  return true;
}

bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& t) {
  Port* p = FindUp(h);
  if (!p || !SetTimeouts(*p, t)) return false;
  p->timeoutsSet = true;
  p->lastTimeouts = t;
  return true;
}

bool SerialPurge(SerialHandle h) {
  Port* p = FindUp(h);
  if (!p) return false;
  if (p->net) return win32::NetPurge(*p->net);
  if (!PurgeComm(p->os, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) return Fail();
  return true;
}

bool SerialClearError(SerialHandle h, uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  Port* p = FindUp(h);
  if (!p) return false;
  if (p->net) {
    if (win32::NetClearError(*p->net, bytesWaiting)) return true;
    return win32::NetLost(*p->net) ? LineLost(*p) : false;
  }
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(p->os, &errors, &stat)) {
    Fail();
    return LineLost(*p);  // a comm port refuses this only when its device is gone
  }
  bytesWaiting = stat.cbInQue;
  return true;
}

bool SerialRead(SerialHandle h, uint8_t* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  Port* p = Find(h);
  if (!p) return false;
  win32::YieldPoint();
  const uint64_t start = win32::MonotonicUs();
  if (p->net && !p->down) {
    // The connection waits out its own time-out before it fails.
    if (win32::NetRead(*p->net, buffer, count, got)) return true;
    return win32::NetLost(*p->net) ? LineLost(*p) : false;
  }
  DWORD n = 0;
  if (!p->down && ReadFile(p->os, buffer, count, &n, nullptr)) {
    got = n;
    return true;
  }
  // A read the driver refuses: the device went away (a USB adapter pulled).
  p->down = true;
  got = n;
  if (got > 0) return true;  // deliver what came; the next read reports it
  // A port whose device vanished fails at once on every call; waiting out
  // the time-out keeps callers that poll in a loop from spinning.
  uint64_t totalMs = 50;
  if (p->timeoutsSet)
    totalMs = static_cast<uint64_t>(p->lastTimeouts.readTotalConstant) +
              static_cast<uint64_t>(p->lastTimeouts.readTotalMultiplier) * count;
  const uint64_t deadline = start + totalMs * 1000;
  for (uint64_t now = win32::MonotonicUs(); now < deadline; now = win32::MonotonicUs()) {
    uint64_t left = (deadline - now + 999) / 1000;
    win32::SleepMs(static_cast<uint32_t>(left > 20 ? 20 : left));
    win32::YieldPoint();
  }
  gLastError = kSerialErrLineLost;
  return false;
}

bool SerialWrite(SerialHandle h, const uint8_t* data, uint32_t count, uint32_t& written) {
  written = 0;
  Port* p = FindUp(h);
  if (!p) return false;
  if (p->net) {
    if (win32::NetWrite(*p->net, data, count, written)) return true;
    return win32::NetLost(*p->net) ? LineLost(*p) : false;
  }
  win32::YieldPoint();
  DWORD n = 0;
  const BOOL ok = WriteFile(p->os, data, count, &n, nullptr);
  written = n;
  // A write time-out is a success with fewer bytes; a failure is the device gone.
  if (!ok) {
    Fail();
    return LineLost(*p);
  }
  return true;
}

void SerialClose(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it == gPorts.end()) return;
  CloseLine(it->second);
  gPorts.erase(it);
}

// Keys first (our queue and the console's), then the bytes the line has
// (an RFC 2217 line decodes what came: Telnet control alone is no line data
// and the wait goes on). Then sleep on the console input, the control event
// and, for a network line, the socket's event. A comm handle opened without
// overlapped I/O has nothing to wait on: with such a line the sleep is cut
// into slices of 1 ms, as the waiting loops always were.
WakeReason PlatformWait(uint32_t maxMs, SerialHandle line) {
  const uint64_t deadline = win32::MonotonicUs() + static_cast<uint64_t>(maxMs) * 1000;
  for (;;) {
    if (KeyPressed()) return WakeReason::kKey;
    auto it = line == kInvalidSerialHandle ? gPorts.end() : gPorts.find(line);
    Port* p = it == gPorts.end() || it->second.down ? nullptr : &it->second;
    uint32_t waiting = 0;
    if (p) {
      if (p->net) {
        if (win32::NetClearError(*p->net, waiting) && waiting > 0) return WakeReason::kLine;
      } else {
        DWORD errors = 0;
        COMSTAT stat{};
        if (ClearCommError(p->os, &errors, &stat) && stat.cbInQue > 0) return WakeReason::kLine;
      }
    }
    const uint64_t now = win32::MonotonicUs();
    if (now >= deadline) return WakeReason::kDeadline;
    uint64_t left = (deadline - now + 999) / 1000;  // never end early
    if (left > 20) left = 20;                       // signals and the screen
    HANDLE waits[3];
    DWORD n = 0;
    if (void* keys = win32::KeyWaitHandle()) waits[n++] = static_cast<HANDLE>(keys);
    if (void* control = win32::ControlEvent()) waits[n++] = static_cast<HANDLE>(control);
    if (p && p->net) {
      if (void* ev = win32::NetWaitEvent(*p->net)) waits[n++] = static_cast<HANDLE>(ev);
      else left = 1;
    } else if (p) {
      left = 1;
    }
    if (n == 0)
      win32::SleepMs(static_cast<uint32_t>(left));
    else
      WaitForMultipleObjects(n, waits, FALSE, static_cast<DWORD>(left));
  }
}

int SerialLastError() { return gLastError; }
int SerialNoDeviceError() { return ERROR_FILE_NOT_FOUND; }

namespace {

// Opens the port of p again, as SerialOpen did, and gives the new line the
// settings and time-outs last set. 0 or the failure's code; p is untouched
// on failure.
int Reopen(Port& p) {
  RemoteAddress address;
  if (const int err = PortAddress(p.number, address); err != 0) return err;
  Port q;
  q.number = p.number;
  if (address.kind != RemoteKind::kDevice) {
    if (const int err = win32::NetOpen(address, q.net); err != 0) return err;
  } else {
    if (const int err = OpenDevice(p.number, q.os); err != 0) return err;
    q.dcb = p.dcb;  // the driver's other fields as they were
  }
  bool ok = true;
  if (p.settingsSet) ok = SetSettings(q, p.lastSet);
  if (ok && p.timeoutsSet) ok = SetTimeouts(q, p.lastTimeouts);
  if (!ok) {
    const int err = gLastError != 0 ? gLastError : ERROR_GEN_FAILURE;
    CloseLine(q);
    return err;
  }
  CloseLine(p);
  q.settingsSet = p.settingsSet;
  q.lastSet = p.lastSet;
  q.timeoutsSet = p.timeoutsSet;
  q.lastTimeouts = p.lastTimeouts;
  p = q;
  return 0;
}

}  // namespace

bool SerialLineUp(SerialHandle h) {
  Port* p = Find(h);
  if (!p) return false;
  if (!p->down) return true;
  if (!p->reopen.Due(win32::MonotonicUs())) return win32::SerialFail(kSerialErrLineLost);
  if (const int err = Reopen(*p); err != 0) return win32::SerialFail(err);
  return true;
}
