// Serial ports on POSIX: termios for the line settings, poll() for reads with
// a millisecond time-out (termios VTIME counts tenths, too coarse for the
// 52 ms a read may last at 9600 baud).
//
// Port n is the device in VEKTON_COM<n> when that is set, else /dev/ttyS<n-1>,
// the kernel's own COM numbering. A handle is the file descriptor; the read
// and write time-outs, which termios has no place for, live in a table here.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/posix/posix_internal.h"
#include "platform/serial.h"

namespace {

struct OpenPort {
  SerialTimeouts timeouts{};
};

std::map<SerialHandle, OpenPort> gPorts;
int gLastError = 0;

// While a read or write waits, the program still yields this often: signals
// are noticed and the screen is kept up to date.
constexpr uint64_t kWaitSliceUs = 20000;
// A write that the far end does not take is given up after this long when
// the port has no write time-out of its own.
constexpr uint64_t kDefaultWriteLimitMs = 1000;

OpenPort* Find(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it == gPorts.end()) {
    gLastError = EBADF;
    return nullptr;
  }
  return &it->second;
}

bool Fail(int err) {
  gLastError = err;
  return false;
}

struct BaudRate {
  uint32_t baud;
  speed_t speed;
};

constexpr BaudRate kRates[] = {
    {50, B50},         {75, B75},         {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},       {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
#endif
};

bool SpeedOf(uint32_t baud, speed_t& speed) {
  for (const auto& r : kRates)
    if (r.baud == baud) {
      speed = r.speed;
      return true;
    }
  return false;
}

uint32_t BaudOf(speed_t speed) {
  for (const auto& r : kRates)
    if (r.speed == speed) return r.baud;
  return 0;
}

tcflag_t SizeFlag(uint8_t dataBits) {
  switch (dataBits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
  }
}

uint8_t DataBitsOf(tcflag_t cflag) {
  switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
  }
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

// Waits for events on fd until deadline, at most one slice. Returns the
// revents (0 when the slice passed quietly).
short WaitFor(int fd, short events, uint64_t deadlineUs) {
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

}  // namespace

int SerialOpen(int port, SerialHandle& handle) {
  handle = kInvalidSerialHandle;
  if (port < 1 || port > 128) return gLastError = SerialNoDeviceError();
  std::string path;
  const std::string var = "VEKTON_COM" + std::to_string(port);
  if (const char* v = std::getenv(var.c_str()); v && *v)
    path = v;
  else
    path = "/dev/ttyS" + std::to_string(port - 1);

  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return gLastError = errno;
  // Exclusive like a Windows COM port. TIOCEXCL alone does not stop root, so
  // an advisory lock guards against a second opener too (another program
  // instance, or this one opening the port twice).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    close(fd);
    return gLastError = EBUSY;
  }
  ioctl(fd, TIOCEXCL);  // fails harmlessly on what is not a terminal
  gPorts[fd] = OpenPort{};
  handle = fd;
  return 0;
}

bool SerialGetSettings(SerialHandle h, SerialSettings& s) {
  if (!Find(h)) return false;
  termios tio{};
  if (tcgetattr(static_cast<int>(h), &tio) != 0) return Fail(errno);
  s.baud = BaudOf(cfgetospeed(&tio));
  s.parity = (tio.c_cflag & PARENB) ? ((tio.c_cflag & PARODD) ? 'O' : 'E') : 'N';
  s.dataBits = DataBitsOf(tio.c_cflag);
  s.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
  s.flagsSet = (tio.c_iflag & (INPCK | IXON | IXOFF | PARMRK)) != 0 || (tio.c_cflag & CRTSCTS) != 0;
  return true;
}

bool SerialSetSettings(SerialHandle h, const SerialSettings& s) {
  if (!Find(h)) return false;
  const int fd = static_cast<int>(h);
  speed_t speed;
  if (!SpeedOf(s.baud, speed) || s.dataBits < 5 || s.dataBits > 8) return Fail(EINVAL);
  termios old{};
  if (tcgetattr(fd, &old) != 0) return Fail(errno);

  termios tio = old;
  cfmakeraw(&tio);  // binary transfer: no echo, no line editing, no translation
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
  tio.c_cflag |= SizeFlag(s.dataBits) | CLOCAL | CREAD;
  const char parity = static_cast<char>(std::toupper(static_cast<unsigned char>(s.parity)));
  if (parity == 'E') tio.c_cflag |= PARENB;
  if (parity == 'O') tio.c_cflag |= PARENB | PARODD;
  if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
  if (s.flagsSet) {
    // Keep whatever flow control the driver had, and check parity on input.
    tio.c_iflag |= old.c_iflag & (IXON | IXOFF);
    if (tio.c_cflag & PARENB) tio.c_iflag |= INPCK;
  } else {
    tio.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY | PARMRK);
    tio.c_cflag &= ~CRTSCTS;
  }
  // Reads never block in the driver; the time-outs are ours (SerialRead).
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  // The C library reports EINVAL when the driver changed part of what was
  // asked, which a pseudo-terminal always does: it keeps 8 data bits and no
  // parity whatever it is told. The check below decides instead.
  if (tcsetattr(fd, TCSANOW, &tio) != 0 && errno != EINVAL) return Fail(errno);

  // Everything a pseudo-terminal keeps must have taken: the rate, the stop
  // bits, the parity sense and raw reads.
  termios now{};
  if (tcgetattr(fd, &now) != 0) return Fail(errno);
  const tcflag_t kept = PARODD | CSTOPB | CLOCAL | CREAD;
  if (cfgetospeed(&now) != speed || cfgetispeed(&now) != speed ||
      (now.c_cflag & kept) != (tio.c_cflag & kept) || (now.c_lflag & (ICANON | ECHO)) != 0 ||
      now.c_cc[VMIN] != 0 || now.c_cc[VTIME] != 0) {
    tcsetattr(fd, TCSANOW, &old);
    return Fail(EINVAL);
  }
  if (!s.flagsSet) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);  // a pseudo-terminal has no modem lines
  }
  return true;
}

bool SerialGetTimeouts(SerialHandle h, SerialTimeouts& t) {
  OpenPort* p = Find(h);
  if (!p) return false;
  t = p->timeouts;
  return true;
}

bool SerialSetTimeouts(SerialHandle h, const SerialTimeouts& t) {
  OpenPort* p = Find(h);
  if (!p) return false;
  p->timeouts = t;
  return true;
}

bool SerialPurge(SerialHandle h) {
  if (!Find(h)) return false;
  if (tcflush(static_cast<int>(h), TCIOFLUSH) != 0) return Fail(errno);
  return true;
}

bool SerialClearError(SerialHandle h, uint32_t& bytesWaiting) {
  bytesWaiting = 0;
  if (!Find(h)) return false;
  // The driver keeps no error state to clear: framing and parity errors
  // already dropped their bytes (no INPCK) or were passed through.
  int n = 0;
  if (ioctl(static_cast<int>(h), FIONREAD, &n) != 0) return Fail(errno);
  bytesWaiting = n > 0 ? static_cast<uint32_t>(n) : 0;
  return true;
}

// Returns when count bytes have come or the total time-out (constant plus
// multiplier per byte) has passed. A total of 0 only takes what is there.
// The interval time-out is not used: the program sets it to 0.
bool SerialRead(SerialHandle h, uint8_t* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  OpenPort* p = Find(h);
  if (!p) return false;
  const int fd = static_cast<int>(h);
  const uint64_t totalMs = static_cast<uint64_t>(p->timeouts.readTotalConstant) +
                           static_cast<uint64_t>(p->timeouts.readTotalMultiplier) * count;
  const uint64_t deadline = posix::MonotonicUs() + totalMs * 1000;
  bool lookedReadable = false;
  bool hungUp = false;
  int err = 0;
  while (got < count) {
    const ssize_t n = read(fd, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<uint32_t>(n);
      lookedReadable = false;
      continue;
    }
    if (n < 0 && errno == EINTR) {
      posix::Yield();
      continue;
    }
    if (n < 0 && errno != EAGAIN) {
      err = errno;  // EIO: the device or the far end went away
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
      // Readable yet empty (not a terminal, at its end of file): rest a
      // little instead of asking again at once.
      timespec ts{0, 1000000};
      nanosleep(&ts, nullptr);
    }
    const short ev = WaitFor(fd, POLLIN, deadline);
    hungUp = (ev & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    lookedReadable = (ev & POLLIN) != 0;
  }
  if (err == 0) return true;
  gLastError = err;
  if (got > 0) return true;  // deliver what came; the next read reports it
  // A port whose far end vanished fails at once on every call; waiting out
  // the time-out keeps callers that poll in a loop from spinning.
  WaitUntil(deadline);
  return false;
}

bool SerialWrite(SerialHandle h, const uint8_t* data, uint32_t count, uint32_t& written) {
  written = 0;
  OpenPort* p = Find(h);
  if (!p) return false;
  const int fd = static_cast<int>(h);
  uint64_t limitMs = static_cast<uint64_t>(p->timeouts.writeTotalConstant) +
                     static_cast<uint64_t>(p->timeouts.writeTotalMultiplier) * count;
  if (limitMs == 0) limitMs = kDefaultWriteLimitMs;
  const uint64_t deadline = posix::MonotonicUs() + limitMs * 1000;
  while (written < count) {
    const ssize_t n = write(fd, data + written, count - written);
    if (n > 0) {
      written += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      posix::Yield();
      continue;
    }
    if (n < 0 && errno != EAGAIN) return Fail(errno);
    // The output queue is full: wait for room, but not for ever.
    if (posix::MonotonicUs() >= deadline) return Fail(ETIMEDOUT);
    const short ev = WaitFor(fd, POLLOUT, deadline);
    if ((ev & (POLLERR | POLLNVAL)) && !(ev & POLLOUT)) return Fail(EIO);
  }
  return true;
}

void SerialClose(SerialHandle h) {
  auto it = gPorts.find(h);
  if (it == gPorts.end()) return;
  const int fd = static_cast<int>(h);
  // The exclusive mode sticks to the device while anyone else still has it
  // open; drop it so the port can be opened again later.
  ioctl(fd, TIOCNXCL);
  close(fd);
  gPorts.erase(it);
}

int SerialLastError() { return gLastError; }
int SerialNoDeviceError() { return ENOENT; }
