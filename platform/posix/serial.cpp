// Serial ports on POSIX, the shared part: which transport port n is, the
// table of open ports, and the time-outs, written once for every transport.
//
// Port n is what VEKTON_COM<n> names: a device path, tcp://HOST:PORT or
// rfc2217://HOST:PORT; without the variable /dev/ttyS<n-1>, the kernel's own
// COM numbering. A handle is the port's descriptor (the terminal's or the
// socket's); the read and write time-outs, which neither termios nor a
// socket has a place for, live in the table here.
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/crt.h"
#include "platform/posix/posix_internal.h"
#include "platform/posix/serial_transport.h"

namespace {

std::map<SerialHandle, SerialPort> gPorts;
int gLastError = 0;

// While a read or write waits, the program still yields this often: signals
// are noticed and the screen is kept up to date.
constexpr uint64_t kWaitSliceUs = 20000;
// A write that the far end does not take is given up after this long when
// the port has no write time-out of its own.
constexpr uint64_t kDefaultWriteLimitMs = 1000;

SerialPort* Find(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it == gPorts.end()) {
    gLastError = EBADF;
    return nullptr;
  }
  return &it->second;
}

// An open port whose line is up; a port whose line is down fails the call.
SerialPort* FindUp(SerialHandle h) {
  SerialPort* p = Find(h);
  if (p && p->down) {
    gLastError = kSerialErrLineLost;
    return nullptr;
  }
  return p;
}

// The line went away under the port: it stays down until SerialLineUp.
bool LineLost(SerialPort& p) {
  p.down = true;
  return SerialFail(kSerialErrLineLost);
}

// Reopens a port whose line went away from where it was opened, with the
// settings last set, and puts the new descriptor under the old number so
// the handle stays what the program holds. 0 or the failure's code.
int Reopen(SerialPort& p) {
  RemoteAddress address;
  int code = ParseRemoteAddress(p.setting, address);
  if (code != 0) return code;
  SerialPort q;
  q.number = p.number;
  code = address.kind == RemoteKind::kDevice ? TtyOpen(p.setting, q) : NetOpen(address, q);
  if (code != 0) return code;
  if (p.settingsSet && !q.ops->setSettings(q, p.lastSet)) {
    code = SerialLastError();
    q.ops->close(q);
    return code != 0 ? code : EIO;
  }
  if (dup2(q.fd, p.fd) < 0) {
    code = errno;
    q.ops->close(q);
    return code;
  }
  close(q.fd);
  q.fd = p.fd;
  q.setting = std::move(p.setting);
  q.timeouts = p.timeouts;
  q.settingsSet = p.settingsSet;
  q.lastSet = p.lastSet;
  p = std::move(q);
  return 0;
}

// Sleeps until deadline in short steps, yielding between them.
void WaitUntil(uint64_t deadlineUs) {
  for (;;) {
    posix::Yield();
    const uint64_t now = posix::MonotonicUs();
    if (now >= deadlineUs) return;
    uint64_t left = deadlineUs - now;
    if (left > kWaitSliceUs) left = kWaitSliceUs;
    timespec ts{0, static_cast<long>(left * 1000)};
    nanosleep(&ts, nullptr);
  }
}

}  // namespace

bool SerialFail(int code) {
  gLastError = code;
  return false;
}

short SerialWaitFd(int fd, short events, uint64_t deadlineUs) {
  posix::Yield();
  const uint64_t now = posix::MonotonicUs();
  if (now >= deadlineUs) return 0;
  uint64_t left = deadlineUs - now;
  if (left > kWaitSliceUs) left = kWaitSliceUs;
  pollfd p{fd, events, 0};
  // Rounded up, so a read never returns before its time-out has passed.
  if (poll(&p, 1, static_cast<int>((left + 999) / 1000)) <= 0) return 0;
  return p.revents;
}

int SerialOpen(int port, SerialHandle& handle) {
  handle = kInvalidSerialHandle;
  if (port < 1 || port > 128) return gLastError = SerialNoDeviceError();
  std::string setting;
  const std::string var = "VEKTON_COM" + std::to_string(port);
  if (const char* v = std::getenv(var.c_str()); v && *v)
    setting = v;
  else
    setting = "/dev/ttyS" + std::to_string(port - 1);

  RemoteAddress address;
  int code = ParseRemoteAddress(setting, address);
  if (code != 0) return gLastError = code;
  SerialPort p;
  p.number = port;
  p.setting = setting;
  if (address.kind == RemoteKind::kDevice) {
    code = TtyOpen(setting, p);
  } else {
    // Exclusive like a device: the port's one connection is its own.
    bool busy = false;
    for (const auto& entry : gPorts) busy = busy || entry.second.number == port;
    code = busy ? EBUSY : NetOpen(address, p);
  }
  if (code != 0) return gLastError = code;
  handle = p.fd;
  gPorts[p.fd] = std::move(p);
  return 0;
}

bool SerialGetSettings(SerialHandle h, SerialSettings& s) {
  SerialPort* p = FindUp(h);
  return p && p->ops->getSettings(*p, s);
}

bool SerialSetSettings(SerialHandle h, const SerialSettings& s) {
  SerialPort* p = FindUp(h);
  if (!p || !p->ops->setSettings(*p, s)) return false;
  p->settingsSet = true;
  p->lastSet = s;
  return true;
}

bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& t) {
  SerialPort* p = Find(h);
  if (!p) return false;
  t = p->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& t) {
  SerialPort* p = Find(h);
  if (!p) return false;
  p->timeouts = t;
  return true;
}

bool SerialPurge(SerialHandle h) {
  SerialPort* p = FindUp(h);
  return p && p->ops->purge(*p);
}

bool SerialClearError(SerialHandle h, uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  SerialPort* p = FindUp(h);
  return p && p->ops->waiting(*p, bytesWaiting);
}

// Returns when count bytes have come or the total time-out (constant plus
// multiplier per byte) has passed. A total of 0 only takes what is there.
// The interval time-out is not used: the program sets it to 0.
bool SerialRead(SerialHandle h, uint8_t* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  SerialPort* p = Find(h);
  if (!p) return false;
  const uint64_t totalMs = static_cast<uint64_t>(p->timeouts.readTotalConstant) +
                           static_cast<uint64_t>(p->timeouts.readTotalMultiplier) * count;
  const uint64_t deadline = posix::MonotonicUs() + totalMs * 1000;
  if (p->down) {
    // Waiting out the time-out keeps callers that poll in a loop from spinning.
    WaitUntil(deadline);
    return SerialFail(kSerialErrLineLost);
  }
  bool lookedReadable = false;
  bool hungUp = false;
  int err = 0;
  while (got < count) {
    const ssize_t n = p->ops->readSome(*p, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      lookedReadable = false;
      continue;
    }
    if (n < 0 && errno == EINTR) {
      posix::Yield();
      continue;
    }
    if (n < 0) {
      err = errno;  // EIO: the device went away; a connection closed or reset
      break;
    }
    if (hungUp) {
      // A hung-up terminal (its pseudo-terminal master closed, a USB
      // adapter pulled) reads as empty for ever and polls as ready.
      err = EIO;
      break;
    }
    if (posix::MonotonicUs() >= deadline) return true;
    if (lookedReadable) {
      // Readable yet empty (not a terminal at its end of file, or Telnet
      // control bytes only): rest a little instead of asking again at once.
      timespec ts{0, 1000000};
      nanosleep(&ts, nullptr);
    }
    const short ev = SerialWaitFd(p->fd, POLLIN, deadline);
    hungUp = (ev & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    lookedReadable = (ev & POLLIN) != 0;
  }
  if (err == 0) return true;
  // Any failure of a read is the line gone: the device, or the connection.
  p->down = true;
  gLastError = kSerialErrLineLost;
  if (got > 0) return true;  // deliver what came; the next read reports it
  // A port whose far end vanished fails at once on every call; waiting out
  // the time-out keeps callers that poll in a loop from spinning.
  WaitUntil(deadline);
  return false;
}

bool SerialWrite(SerialHandle h, const uint8_t* data, uint32_t count, uint32_t& written) {
  written = 0;
  SerialPort* p = FindUp(h);
  if (!p) return false;
  uint64_t limitMs = static_cast<uint64_t>(p->timeouts.writeTotalConstant) +
                     static_cast<uint64_t>(p->timeouts.writeTotalMultiplier) * count;
  if (limitMs == 0) limitMs = kDefaultWriteLimitMs;
  const uint64_t deadline = posix::MonotonicUs() + limitMs * 1000;
  // The data first, then whatever the transport still holds of it: the
  // write is done only when every byte is on its way.
  for (;;) {
    int pending = 0;
    if (written < count) {
      const ssize_t n = p->ops->writeSome(*p, data + written, count - written);
      if (n > 0) {
        written += static_cast<uint32_t>(n);
        continue;
      }
      pending = n < 0 ? errno : EAGAIN;
    } else if (p->ops->flushOut) {
      pending = p->ops->flushOut(*p);
    }
    if (pending == 0) return true;
    if (pending == EINTR) {
      posix::Yield();
      continue;
    }
    // A write the line refuses (a device gone, a connection closed or
    // reset) is the line gone; one it only does not take in time is not.
    if (pending != EAGAIN) return LineLost(*p);
    // The output queue is full: wait for room, but not for ever.
    if (posix::MonotonicUs() >= deadline) return SerialFail(ETIMEDOUT);
    const short ev = SerialWaitFd(p->fd, POLLOUT, deadline);
    if ((ev & (POLLERR | POLLNVAL | POLLHUP)) && !(ev & POLLOUT)) return LineLost(*p);
  }
}

void SerialClose(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it == gPorts.end()) return;
  it->second.ops->close(it->second);
  gPorts.erase(it);
}

// Keys first: one may sit in our own queue or in the terminal library's
// buffer, where no descriptor shows it, and KeyPressed takes both in. Then
// the line's decoded bytes (an RFC 2217 line decodes what has come: Telnet
// control alone is no line data, and the wait goes on). Only then sleep in
// poll on the keyboard and the line, a slice at a time so that signals and
// the screen are still seen to.
WakeReason PlatformWait(uint32_t maxMs, SerialHandle line) {
  const uint64_t deadline = posix::MonotonicUs() + static_cast<uint64_t>(maxMs) * 1000;
  // A line that wakes poll with nothing to read (closed, hung up, or only
  // Telnet control) is left out of the next short sleep: never a spin.
  uint64_t lineQuietUntil = 0;
  for (;;) {
    if (KeyPressed()) return WakeReason::kKey;
    auto it = line == kInvalidSerialHandle ? gPorts.end() : gPorts.find(line);
    SerialPort* p = it == gPorts.end() || it->second.lostError != 0 || it->second.down ? nullptr : &it->second;
    uint32_t waiting = 0;
    if (p && p->ops->waiting(*p, waiting) && waiting > 0) return WakeReason::kLine;
    const uint64_t now = posix::MonotonicUs();
    if (now >= deadline) return WakeReason::kDeadline;
    uint64_t left = deadline - now;
    if (left > kWaitSliceUs) left = kWaitSliceUs;
    pollfd fds[2];
    nfds_t n = 0;
    if (const int keyFd = posix::KeyWaitFd(); keyFd >= 0) fds[n++] = pollfd{keyFd, POLLIN, 0};
    const bool watchLine = p && p->lostError == 0 && now >= lineQuietUntil;
    if (watchLine) {
      fds[n++] = pollfd{p->fd, POLLIN, 0};
    } else if (p && left > 1000) {
      left = 1000;  // look at the line again soon
    }
    // Rounded up, so the wait never ends before its deadline.
    const int r = poll(fds, n, static_cast<int>((left + 999) / 1000));
    if (r > 0 && watchLine && fds[n - 1].revents != 0) lineQuietUntil = posix::MonotonicUs() + 1000;
  }
}

int SerialLastError() { return gLastError; }
int SerialNoDeviceError() { return ENOENT; }

bool SerialLineUp(SerialHandle h) {
  SerialPort* p = Find(h);
  if (!p) return false;
  if (!p->down) return true;
  if (!p->reopen.Due(posix::MonotonicUs())) return SerialFail(kSerialErrLineLost);
  if (const int code = Reopen(*p); code != 0) return SerialFail(code);
  return true;
}
