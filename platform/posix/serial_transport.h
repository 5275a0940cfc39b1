// The POSIX serial layer inside: one table of open ports (serial.cpp) whose
// entries each carry the transport that moves their bytes: a terminal device
// (serial_tty.cpp), a raw TCP connection or an RFC 2217 one (serial_net.cpp).
// The shared part owns the time-outs (deadlines, waiting out a dead line);
// a transport only does non-blocking steps on its descriptor.
// Nothing outside platform/posix includes this.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/line_reopen.h"
#include "platform/remote_line.h"
#include "platform/serial.h"

struct SerialTransport;

struct SerialPort {
  const SerialTransport* ops = nullptr;
  int fd = -1;  // what the wait polls; also the port's handle
  int number = 0;
  SerialTimeouts timeouts{};
  // Network lines: the settings last set (raw TCP) or confirmed (RFC 2217),
  // and the connection's end once it is gone (0 while it lives).
  SerialSettings settings{9600, 'N', 8, 1, false};
  int lostError = 0;
  std::unique_ptr<Rfc2217Link> link;  // RFC 2217 only
  // What the port was opened from, and the line settings last set: a line
  // that went away is opened again from them, under the same descriptor
  // number. While it is down every call fails with kSerialErrLineLost.
  std::string setting;
  bool settingsSet = false;
  SerialSettings lastSet{};
  bool down = false;
  LineReopenPace reopen;
};

// The steps a transport offers. Failures of the bool steps go through
// SerialFail; the byte steps report like read(2) and write(2).
struct SerialTransport {
  bool (*getSettings)(SerialPort&, SerialSettings&);
  bool (*setSettings)(SerialPort&, const SerialSettings&);
  bool (*purge)(SerialPort&);
  bool (*waiting)(SerialPort&, uint32_t&);
  // > 0 bytes read; 0 none now (the wait follows); -1 with errno: EINTR to
  // try again, anything else the line failed.
  ssize_t (*readSome)(SerialPort&, uint8_t*, size_t);
  // > 0 bytes taken; -1 with errno: EINTR, EAGAIN (no room: wait for
  // POLLOUT), anything else the line failed.
  ssize_t (*writeSome)(SerialPort&, const uint8_t*, size_t);
  // Bytes the transport holds for the line beyond what writeSome reported
  // (Telnet encoding): 0 all gone, EAGAIN more to send, else the failure.
  // Null when the transport holds none.
  int (*flushOut)(SerialPort&);
  void (*close)(SerialPort&);
};

// Records code as the last error and returns false.
bool SerialFail(int code);

// Waits for events on fd until deadline, at most one short slice (the
// program yields between slices). Returns the revents (0: the slice passed
// quietly).
short SerialWaitFd(int fd, short events, uint64_t deadlineUs);

// Opening by kind: 0 and port filled (fd, ops, state), or the error code.
int TtyOpen(const std::string& path, SerialPort& port);
int NetOpen(const RemoteAddress& address, SerialPort& port);
