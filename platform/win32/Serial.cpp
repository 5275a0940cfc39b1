// Serial ports on Windows, what the shared table (platform/SerialTable.cpp)
// asks of the system: the clock, the yield, the system's error codes, the
// program's idle wait on the console and the line, and the comm port
// transport. Port n is COMn: the kernel32 comm calls, synchronous, one
// handle per open port; the driver keeps the line settings and the read
// time-outs, and a ReadFile returns when its bytes have come or the total
// time-out passed. When VEKTON_COM<n> names tcp://HOST:PORT or
// rfc2217://HOST:PORT, port n is a connection instead (platform/NetLine.cpp).
#include <windows.h>

#include <memory>
#include <string>

#include "platform/Crt.h"
#include "platform/SerialPort.h"
#include "platform/win32/Win32Internal.h"

// In the order of SerialSystemCodes.
const SerialSystemCodes kSerialCodes = {
    ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED,     WSAETIMEDOUT,    ERROR_INVALID_PARAMETER,
    WSAENOBUFS,           ERROR_NOT_ENOUGH_MEMORY, WSAEHOSTUNREACH, ERROR_GEN_FAILURE};

uint64_t SerialNowUs() { return win32::MonotonicUs(); }

void SerialYield() { win32::YieldPoint(); }

void SerialSleepUs(uint64_t us) { win32::SleepMs(static_cast<uint32_t>((us + 999) / 1000)); }

bool SerialEscQueued() { return win32::EscQueued(); }

namespace win32 {

std::string SerialDeviceName(int port) {
  const std::string n = std::to_string(port);
  return port <= 9 ? "COM" + n : "\\\\.\\COM" + n;
}

}  // namespace win32

// On Windows port n is the device COMn whatever else VEKTON_COM<n> holds.
std::string SerialDevicePath(int port, const std::string& /*setting*/) {
  return win32::SerialDeviceName(port);
}

int SerialNoDeviceError() { return ERROR_FILE_NOT_FOUND; }

// --- a comm port ----------------------------------------------------------------

namespace {

HANDLE Os(const SerialPort& p) { return reinterpret_cast<HANDLE>(p.sys); }

// The settings as the driver last reported them, so that applying settings
// changes only what the program asks for and keeps every other field of
// the driver.
DCB& Dcb(SerialPort& p) { return *static_cast<DCB*>(p.state.get()); }

bool Fail() { return SerialFail(static_cast<int>(GetLastError())); }

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

bool CommGetSettings(SerialPort& p, SerialSettings& s) {
  DCB d{};
  d.DCBlength = sizeof d;
  if (!GetCommState(Os(p), &d)) return Fail();
  Dcb(p) = d;
  s.baud = d.BaudRate;
  s.parity = ParityLetter(d.Parity);
  s.dataBits = d.ByteSize;
  s.stopBits = d.StopBits == TWOSTOPBITS ? 2 : 1;
  s.flagsSet = AnyFlagSet(d);
  return true;
}

bool CommSetSettings(SerialPort& p, const SerialSettings& s) {
  DCB d = Dcb(p);
  if (d.BaudRate == 0) {
    // Never read: start from what the driver has now.
    d.DCBlength = sizeof d;
    if (!GetCommState(Os(p), &d)) return Fail();
  }
  d.BaudRate = s.baud;
  d.ByteSize = s.dataBits;
  d.Parity = s.parity == 'E' ? EVENPARITY : s.parity == 'O' ? ODDPARITY : NOPARITY;
  d.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  if (s.flagsSet)
    d.fBinary = TRUE;
  else
    ClearFlags(d);
  if (!SetCommState(Os(p), &d)) return Fail();
  Dcb(p) = d;
  return true;
}

bool CommGetTimeouts(SerialPort& p, SerialTimeouts& t) {
  COMMTIMEOUTS c{};
  if (!GetCommTimeouts(Os(p), &c)) return Fail();
  t.readInterval = c.ReadIntervalTimeout;
  t.readTotalMultiplier = c.ReadTotalTimeoutMultiplier;
  t.readTotalConstant = c.ReadTotalTimeoutConstant;
  t.writeTotalMultiplier = c.WriteTotalTimeoutMultiplier;
  t.writeTotalConstant = c.WriteTotalTimeoutConstant;
  return true;
}

bool CommSetTimeouts(SerialPort& p, const SerialTimeouts& t) {
  COMMTIMEOUTS c{};
  c.ReadIntervalTimeout = t.readInterval;
  c.ReadTotalTimeoutMultiplier = t.readTotalMultiplier;
  c.ReadTotalTimeoutConstant = t.readTotalConstant;
  c.WriteTotalTimeoutMultiplier = t.writeTotalMultiplier;
  c.WriteTotalTimeoutConstant = t.writeTotalConstant;
  if (!SetCommTimeouts(Os(p), &c)) return Fail();
  return true;
}

bool CommPurge(SerialPort& p) {
  if (!PurgeComm(Os(p), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) return Fail();
  return true;
}

bool CommWaiting(SerialPort& p, uint32_t& bytesWaiting) {
  DWORD errors = 0;
  COMSTAT stat{};
  if (!ClearCommError(Os(p), &errors, &stat)) {
    // A comm port refuses this only when its device is gone.
    Fail();
    p.lostError = SerialLastError() != 0 ? SerialLastError() : ERROR_GEN_FAILURE;
    return false;
  }
  bytesWaiting = stat.cbInQue;
  return true;
}

// The driver waits out the read time-out itself. A read it refuses: the
// device went away (a USB adapter pulled).
bool CommRead(SerialPort& p, uint8_t* buffer, uint32_t count, uint32_t& got) {
  win32::YieldPoint();
  DWORD n = 0;
  const BOOL ok = ReadFile(Os(p), buffer, count, &n, nullptr);
  got = n;
  return ok;
}

// A write time-out is a success with fewer bytes; a failure is the device gone.
bool CommWrite(SerialPort& p, const uint8_t* data, uint32_t count, uint32_t& written) {
  win32::YieldPoint();
  DWORD n = 0;
  const BOOL ok = WriteFile(Os(p), data, count, &n, nullptr);
  written = n;
  return ok || Fail();
}

// Opened without overlapped I/O, a comm handle has nothing to wait on.
intptr_t CommWaitObject(SerialPort&) { return kSerialNoWaitObject; }

void CommClose(SerialPort& p) { CloseHandle(Os(p)); }

constexpr SerialDriverCalls kCommDriver = {CommGetTimeouts, CommSetTimeouts, CommRead, CommWrite};
// No byte steps: the driver times the whole read and write.
constexpr SerialTransport kComm = {CommGetSettings, CommSetSettings, CommPurge, CommWaiting, nullptr,
                                   nullptr,         nullptr,         CommWaitObject, CommClose,
                                   &kCommDriver};

}  // namespace

// Opens COMn, exclusive. A reopening starts from the old port's driver
// settings, so the driver's other fields stay as they were.
int SerialDeviceOpen(const RemoteAddress& /*address*/, SerialPort& port) {
  const HANDLE os = CreateFileA(port.setting.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (os == INVALID_HANDLE_VALUE) {
    const int err = static_cast<int>(GetLastError());
    return err != 0 ? err : SerialNoDeviceError();
  }
  auto dcb = std::make_shared<DCB>();
  if (port.state) {
    *dcb = *static_cast<const DCB*>(port.state.get());
  } else {
    dcb->DCBlength = sizeof *dcb;
  }
  port.state = dcb;
  port.sys = reinterpret_cast<intptr_t>(os);
  port.ops = &kComm;
  return 0;
}

// Keys first (our queue and the console's), then the bytes the line has
// (SerialWakeDue). Then sleep on the console input, the control event
// and what the line offers to wait on (a socket's event). A comm handle
// opened without overlapped I/O has nothing to wait on: with such a line
// the sleep is cut into slices of 1 ms.
WakeReason PlatformWait(uint32_t maxMs, SerialHandle line) {
  const uint64_t deadline = win32::MonotonicUs() + static_cast<uint64_t>(maxMs) * 1000;
  for (;;) {
    WakeReason why;
    SerialPort* p = nullptr;
    if (SerialWakeDue(line, deadline, why, p)) return why;
    const uint64_t now = win32::MonotonicUs();
    uint64_t left = deadline > now ? (deadline - now + 999) / 1000 : 0;  // never end early
    if (left > 20) left = 20;                       // signals and the screen
    HANDLE waits[3];
    DWORD n = 0;
    if (void* keys = win32::KeyWaitHandle()) waits[n++] = static_cast<HANDLE>(keys);
    if (void* control = win32::ControlEvent()) waits[n++] = static_cast<HANDLE>(control);
    if (p) {
      const intptr_t ev = p->ops->waitObject(*p);
      if (ev != kSerialNoWaitObject)
        waits[n++] = reinterpret_cast<HANDLE>(ev);
      else
        left = 1;
    }
    if (n == 0)
      win32::SleepMs(static_cast<uint32_t>(left));
    else
      WaitForMultipleObjects(n, waits, FALSE, static_cast<DWORD>(left));
  }
}
